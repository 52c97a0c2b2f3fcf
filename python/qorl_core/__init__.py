"""The host's core: the record validation error of the library's records."""

from qorl_multimodal._native import ValidationError

__all__ = ["ValidationError"]
