from collections.abc import Mapping, Sequence
from typing import Any

from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText

class GoogleCloudAudioToText(BaseAudioToText):
    bucket_name: str
    language_code: str
    alternative_language_codes: list[str] | None
    model: str
    timeout: int
    proxy: str | None
    def __init__(
        self,
        *,
        credentials_json: str | Mapping[str, Any],
        bucket_name: str,
        language_code: str = "id-ID",
        alternative_language_codes: Sequence[str] | None = None,
        model: str = "latest_long",
        timeout: int = 300,
        proxy: str | None = None,
    ) -> None: ...
