from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText

class ProsaAudioToText(BaseAudioToText):
    api_key: str
    url: str
    model: str
    max_polls: int | None
    polling_interval: int
    def __init__(
        self,
        *,
        api_key: str,
        url: str = "https://api.prosa.ai/v2/speech/stt",
        model: str = "stt-general",
        polling_interval: int = 5,
        max_polls: int | None = 720,
    ) -> None: ...
