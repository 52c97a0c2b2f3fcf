"""An abstract base class for image modality transformers."""

from qorl_multimodal._native import ImageModalityTransformer

ImageModalityTransformer.__module__ = __name__
