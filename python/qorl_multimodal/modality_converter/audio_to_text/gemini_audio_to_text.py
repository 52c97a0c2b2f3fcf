"""An audio to text converter using Gemini."""

from qorl_multimodal._native import GeminiAudioToText

GeminiAudioToText.__module__ = __name__
