"""An audio to text converter reading YouTube transcripts."""

from qorl_multimodal._native import YouTubeTranscriptAudioToText

YouTubeTranscriptAudioToText.__module__ = __name__
