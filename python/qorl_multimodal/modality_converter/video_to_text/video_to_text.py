"""An abstract base class for video to text conversion."""

from qorl_multimodal._native import BaseVideoToText

BaseVideoToText.__module__ = __name__
