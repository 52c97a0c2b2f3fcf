"""An audio to text converter using Google Cloud Speech-to-Text."""

from qorl_multimodal._native import GoogleCloudAudioToText

GoogleCloudAudioToText.__module__ = __name__
