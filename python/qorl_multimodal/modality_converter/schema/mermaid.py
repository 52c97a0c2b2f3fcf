"""Mermaid additional metadata: the options of an image-to-Mermaid conversion."""

from qorl_multimodal._native import Mermaid

Mermaid.__module__ = __name__
