"""Video captioning implementation using Language Models."""

from qorl_multimodal._native import LMBasedVideoToCaption

LMBasedVideoToCaption.__module__ = __name__
