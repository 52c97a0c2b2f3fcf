"""Image captioning implementation using Language Models."""

from qorl_multimodal._native import LMBasedImageToCaption

LMBasedImageToCaption.__module__ = __name__
