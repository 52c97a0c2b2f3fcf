"""An abstract base class for modality conversion used in Gen AI applications."""

from qorl_multimodal._native import BaseModalityConverter

BaseModalityConverter.__module__ = __name__
