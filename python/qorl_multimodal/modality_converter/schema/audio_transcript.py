"""One timed segment of spoken content."""

from qorl_multimodal._native import AudioTranscript

AudioTranscript.__module__ = __name__
