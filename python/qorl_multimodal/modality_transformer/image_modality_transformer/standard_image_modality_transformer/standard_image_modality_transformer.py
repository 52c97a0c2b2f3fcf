"""A transformer that routes an image to the converter its router picks."""

from qorl_multimodal._native import StandardImageModalityTransformer

StandardImageModalityTransformer.__module__ = __name__
