"""An audio to text converter using Prosa STT."""

from qorl_multimodal._native import ProsaAudioToText

ProsaAudioToText.__module__ = __name__
