"""Records exchanged with language models."""

from qorl_multimodal._native import Attachment

Attachment.__module__ = __name__
