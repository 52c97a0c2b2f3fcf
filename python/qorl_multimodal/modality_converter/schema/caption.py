"""The caption context record."""

from qorl_multimodal._native import Caption

Caption.__module__ = __name__
