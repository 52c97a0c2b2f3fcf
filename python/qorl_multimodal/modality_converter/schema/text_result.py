"""The result of every image-to-text and video-to-text conversion."""

from qorl_multimodal._native import TextResult

TextResult.__module__ = __name__
