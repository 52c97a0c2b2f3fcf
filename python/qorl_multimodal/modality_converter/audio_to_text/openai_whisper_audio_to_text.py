"""An audio to text converter using OpenAI Whisper."""

from qorl_multimodal._native import OpenAIWhisperAudioToText

OpenAIWhisperAudioToText.__module__ = __name__
