"""An abstract base class for image to Mermaid conversion."""

from qorl_multimodal._native import BaseImageToMermaid

BaseImageToMermaid.__module__ = __name__
