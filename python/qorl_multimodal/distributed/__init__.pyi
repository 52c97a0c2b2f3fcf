import dataclasses
from collections.abc import Iterable, Iterator, Mapping
from typing import Any

import distributed

from qorl_multimodal.batch import BatchRecord
from qorl_multimodal.modality_converter.audio_to_text.audio_to_text import BaseAudioToText
from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter

SUBCOMMANDS: dict[str, str]

@dataclasses.dataclass(frozen=True)
class ConverterSpec:
    converter: str
    options: Mapping[str, Any] = ...
    credentials: Mapping[str, str] = ...
    def build(self) -> BaseModalityConverter | BaseAudioToText: ...
    def identity(self) -> str: ...

def run(
    spec: ConverterSpec,
    sources: Iterable[str | Mapping[str, Any]],
    *,
    client: distributed.Client,
    store: str,
    chunk_size: int = 16,
    in_flight: int = 8,
    retry_failed: bool = False,
    refresh: bool = False,
    model: str | None = None,
    **options: Any,
) -> Iterator[BatchRecord]: ...
def read_source_list(path: str) -> list[str | dict[str, Any]]: ...
