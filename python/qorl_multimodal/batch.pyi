from collections.abc import AsyncIterator, Iterable, Mapping
from typing import Any, Literal, TypedDict

from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText
from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter

class BatchRecord(TypedDict):
    source: str
    id: str | None
    status: Literal["done", "cached", "failed", "skipped", "pending"]
    cached: bool
    key: str | None
    result: dict[str, Any] | None
    error: str | None
    error_kind: str | None
    quota_exhausted: bool
    usage: dict[str, Any]

def run(
    converter: BaseModalityConverter | BaseAudioToText,
    sources: Iterable[str | Mapping[str, Any]],
    *,
    store: str | None = None,
    jobs: int = 8,
    retry_failed: bool = False,
    refresh: bool = False,
    model: str | None = None,
    gemini_batch: Literal["wait", "detach"] | None = None,
    **options: Any,
) -> AsyncIterator[BatchRecord]: ...
