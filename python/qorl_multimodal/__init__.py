"""Module that manage multimodality for Gen AI application."""

# The library's log lines go to Python's logging from the first import on.
from qorl_multimodal import _log_forwarding  # noqa: F401

__all__ = []
