from typing import Any

class AudioTranscript:
    text: str
    start_time: float
    end_time: float
    lang_id: str | None
    def __init__(
        self, *, text: str, start_time: float | str = 0.0, end_time: float | str = 0.0, lang_id: str | None
    ) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
