"""Errors a caller can catch by kind.

Failures of a service carry what the service said as data: ``service``, ``status_code`` (the HTTP
status, or None), ``code`` (the service's own status or code) and ``retryable``. Where the library
raises a builtin kind (``ValueError`` for a source it cannot use, say), the error is still that
kind as well, so code that catches the builtin keeps working. All of them are ``RuntimeError``s,
as service failures were before. Cancellation stays ``asyncio.CancelledError``.
"""


class QorlError(RuntimeError):
    """Any failure the library reports with its own kind."""


class ServiceError(QorlError):
    """A service or program the library called failed."""

    def __init__(self, message, *, service="", status_code=None, code="", retryable=False):
        super().__init__(message)
        self.message = message
        self.service = service
        self.status_code = status_code
        self.code = code
        self.retryable = retryable


class RateLimitError(ServiceError):
    """The service refused the request for its rate (HTTP 429)."""


class QuotaExhaustedError(RateLimitError):
    """A quota ran out (a per-day quota, an exhausted balance); ``quota`` names it. Retrying
    soon does not help; a run with a store resumes later."""

    def __init__(self, message, *, quota="", **failure):
        super().__init__(message, **failure)
        self.quota = quota


class AuthenticationError(ServiceError):
    """The service refused the credentials (HTTP 401 or 403)."""


class Timeout(ServiceError, TimeoutError):
    """The service did not answer in time."""


class UnsupportedMediaError(QorlError, ValueError):
    """The source names or holds no media of the kind the converter takes (no file, no
    download, no base64 of that kind)."""


_combined = {}


def _kind_of(status_code, code, quota):
    if quota:
        return QuotaExhaustedError
    if status_code == 429:
        return RateLimitError
    if status_code in (401, 403):
        return AuthenticationError
    if status_code in (408, 504) or code == "timeout":
        return Timeout
    return ServiceError


def _service_error(builtin, message, service, status_code, code, retryable, quota):
    """The error the library raises for a failure of `service`; also a `builtin` when the
    library's own kind is a builtin one other than RuntimeError."""
    kind = _kind_of(status_code, code, quota)
    if builtin is not None and not issubclass(kind, builtin):
        key = (kind, builtin)
        if key not in _combined:
            _combined[key] = type(kind.__name__, (kind, builtin), {"__module__": __name__})
        kind = _combined[key]
    failure = dict(service=service, status_code=status_code, code=code, retryable=retryable)
    if issubclass(kind, QuotaExhaustedError):
        return kind(message, quota=quota, **failure)
    return kind(message, **failure)
