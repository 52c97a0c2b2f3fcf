class ValidationError(ValueError):
    """A record's construction failed; `errors` lists every failing field."""

    errors: list[dict[str, str]]
    record_name: str

__all__ = ["ValidationError"]
