"""An abstract base class for image to text conversion used in Gen AI applications."""

from qorl_multimodal._native import BaseImageToText

BaseImageToText.__module__ = __name__
