from collections.abc import Sequence

from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText

class OpenAIWhisperAudioToText(BaseAudioToText):
    model: str
    language: str | None
    prompt: str | None
    temperature: float
    timestamp_granularity: str
    proxy: str | None
    skip_conversion_for_formats: list[str] | None
    def __init__(
        self,
        *,
        api_key: str,
        model: str = "whisper-1",
        language: str | None = None,
        prompt: str | None = None,
        temperature: float = 0.0,
        timestamp_granularity: str = "segment",
        proxy: str | None = None,
        skip_conversion_for_formats: Sequence[str] | None = None,
        base_url: str | None = None,
        chunk_long_audio: bool = False,
        max_concurrent_pieces: int = 4,
    ) -> None: ...
