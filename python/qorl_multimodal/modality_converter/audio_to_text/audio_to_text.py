"""An abstract base class for audio to text used in Gen AI applications."""

from qorl_multimodal._native import BaseAudioToText

BaseAudioToText.__module__ = __name__
