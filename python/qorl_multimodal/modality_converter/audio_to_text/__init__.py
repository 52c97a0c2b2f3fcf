"""Modules concerning the audio to text process in Gen AI applications."""

from qorl_multimodal.modality_converter.audio_to_text.gemini_audio_to_text import GeminiAudioToText
from qorl_multimodal.modality_converter.audio_to_text.google_cloud_audio_to_text import GoogleCloudAudioToText
from qorl_multimodal.modality_converter.audio_to_text.prosa_audio_to_text import ProsaAudioToText
from qorl_multimodal.modality_converter.audio_to_text.openai_whisper_audio_to_text import OpenAIWhisperAudioToText
from qorl_multimodal.modality_converter.audio_to_text.youtube_transcript_audio_to_text import YouTubeTranscriptAudioToText

__all__ = ["GeminiAudioToText", "GoogleCloudAudioToText", "ProsaAudioToText", "OpenAIWhisperAudioToText", "YouTubeTranscriptAudioToText"]
