class QorlError(RuntimeError):
    """Any failure the library reports with its own kind."""

class ServiceError(QorlError):
    """A service or program the library called failed."""

    message: str
    service: str
    status_code: int | None
    code: str
    retryable: bool
    def __init__(
        self, message: str, *, service: str = "", status_code: int | None = None, code: str = "", retryable: bool = False
    ) -> None: ...

class RateLimitError(ServiceError): ...

class QuotaExhaustedError(RateLimitError):
    quota: str
    def __init__(
        self,
        message: str,
        *,
        quota: str = "",
        service: str = "",
        status_code: int | None = None,
        code: str = "",
        retryable: bool = False,
    ) -> None: ...

class AuthenticationError(ServiceError): ...
class Timeout(ServiceError, TimeoutError): ...
class UnsupportedMediaError(QorlError, ValueError): ...
