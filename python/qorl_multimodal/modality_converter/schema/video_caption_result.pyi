from collections.abc import Mapping, Sequence
from typing import Any

from qorl_multimodal.modality_converter.schema.audio_transcript import AudioTranscript

class Keyframe:
    time_offset: float
    media_id: str | None
    caption: str
    def __init__(self, *, time_offset: float | str = 0.0, media_id: str | None = None, caption: str = "") -> None: ...
    def to_dict(self) -> dict[str, Any]: ...

class Segment:
    start_time: float
    end_time: float
    transcripts: list[dict[str, Any]]
    segment_caption: list[str]
    keyframes: list[dict[str, Any]]
    def __init__(
        self,
        *,
        start_time: float | str = 0.0,
        end_time: float | str = 0.0,
        transcripts: Sequence[AudioTranscript | Mapping[str, Any]] = ...,
        segment_caption: Sequence[str] = ...,
        keyframes: Sequence[Keyframe | Mapping[str, Any]] = ...,
    ) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...

class VideoCaptionMetadata:
    video_summary: str
    segments: list[dict[str, Any]]
    def __init__(self, *, video_summary: str = "", segments: Sequence[Segment | Mapping[str, Any]] = ...) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
