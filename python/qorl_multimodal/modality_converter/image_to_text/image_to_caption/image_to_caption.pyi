from collections.abc import Sequence

from qorl_inference.schema import Attachment
from qorl_multimodal.modality_converter.image_to_text.image_to_text import BaseImageToText
from qorl_multimodal.modality_converter.schema.text_result import TextResult

class BaseImageToCaption(BaseImageToText):
    """Captions an image; the options are the fields of the caption context (Caption)."""

    async def convert(  # type: ignore[override]
        self,
        source: str | bytes,
        *,
        image_one_liner: str | None = "not_given",
        image_description: str | None = "not_given",
        domain_knowledge: str | None = "not_given",
        number_of_captions: int | str | None = 5,
        language: str | None = "Indonesian",
        attachments_context: Sequence[Attachment | bytes | str] | None = None,
        event_emitter: object | None = None,
        use_metadata: bool = True,
        delete_attachments_context: bool = True,
    ) -> TextResult: ...
    def convert_sync(  # type: ignore[override]
        self,
        source: str | bytes,
        *,
        image_one_liner: str | None = "not_given",
        image_description: str | None = "not_given",
        domain_knowledge: str | None = "not_given",
        number_of_captions: int | str | None = 5,
        language: str | None = "Indonesian",
        attachments_context: Sequence[Attachment | bytes | str] | None = None,
        event_emitter: object | None = None,
        use_metadata: bool = True,
        delete_attachments_context: bool = True,
    ) -> TextResult: ...
