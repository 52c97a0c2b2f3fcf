from qorl_multimodal.modality_converter.image_to_text.image_to_text import BaseImageToText
from qorl_multimodal.modality_converter.schema.text_result import TextResult

class BaseImageToMermaid(BaseImageToText):
    """Turns a diagram image into Mermaid code; the options are the fields of Mermaid."""

    async def convert(  # type: ignore[override]
        self,
        source: str | bytes,
        *,
        diagram_type: str | None = None,
        context: str | None = None,
        event_emitter: object | None = None,
    ) -> TextResult: ...
    def convert_sync(  # type: ignore[override]
        self,
        source: str | bytes,
        *,
        diagram_type: str | None = None,
        context: str | None = None,
        event_emitter: object | None = None,
    ) -> TextResult: ...
