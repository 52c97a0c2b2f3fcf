"""An abstract base class for video captioning."""

from qorl_multimodal._native import BaseVideoToCaption

BaseVideoToCaption.__module__ = __name__
