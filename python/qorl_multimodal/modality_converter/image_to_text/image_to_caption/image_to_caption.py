"""An abstract base class for image captioning."""

from qorl_multimodal._native import BaseImageToCaption

BaseImageToCaption.__module__ = __name__
