from collections.abc import Sequence

from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText

class YouTubeTranscriptAudioToText(BaseAudioToText):
    preferred_lang_ids: list[str] | None
    allow_non_preferred_lang_ids: bool
    allow_auto_generated_transcripts: bool
    proxy: str | None
    @property
    def fallback_backend(self) -> BaseAudioToText | None: ...
    translate_to: str | None
    def __init__(
        self,
        *,
        preferred_lang_ids: Sequence[str] | None = None,
        allow_non_preferred_lang_ids: bool = False,
        allow_auto_generated_transcripts: bool = False,
        proxy: str | None = None,
        fallback_backend: BaseAudioToText | None = None,
        translate_to: str | None = None,
    ) -> None: ...
