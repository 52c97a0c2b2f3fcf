"""Image to Mermaid conversion using Language Models."""

from qorl_multimodal._native import LMBasedImageToMermaid

LMBasedImageToMermaid.__module__ = __name__
