from typing import Any

from qorl_multimodal.modality_converter.schema.text_result import TextResult

class BaseModalityConverter:
    """The frame of every converter: `convert` awaits the library, `convert_sync` waits for it."""

    async def convert(self, source: str | bytes, **options: Any) -> TextResult: ...
    def convert_sync(self, source: str | bytes, **options: Any) -> TextResult: ...
    def set_blocking_threads(self, threads: int) -> None: ...
