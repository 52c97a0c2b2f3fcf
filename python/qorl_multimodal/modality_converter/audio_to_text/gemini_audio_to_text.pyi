from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText

class GeminiAudioToText(BaseAudioToText):
    model: str
    system_prompt: str
    user_prompt: str
    def __init__(
        self,
        *,
        api_key: str,
        model: str = "gemini-2.5-flash",
        system_prompt: str = ...,
        user_prompt: str = "Please transcribe the audio from the attached media file.",
        max_retries: int = 0,
        timeout: float = 0.0,
        base_url: str | None = None,
    ) -> None: ...
