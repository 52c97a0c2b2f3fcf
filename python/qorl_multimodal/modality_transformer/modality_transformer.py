"""An abstract base class for the modality transformers used in Gen AI applications."""

from qorl_multimodal._native import BaseModalityTransformer

BaseModalityTransformer.__module__ = __name__
