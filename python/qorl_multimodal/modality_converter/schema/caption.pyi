from collections.abc import Mapping, Sequence
from typing import Any

from qorl_inference.schema import Attachment

class Caption:
    image_one_liner: str
    image_description: str
    domain_knowledge: str
    number_of_captions: int
    language: str
    image_metadata: dict[str, Any]
    attachments_context: list[Attachment]
    def __init__(
        self,
        *,
        image_one_liner: str | None = "not_given",
        image_description: str | None = "not_given",
        domain_knowledge: str | None = "not_given",
        number_of_captions: int | str | None = 5,
        language: str | None = "Indonesian",
        image_metadata: Mapping[str, Any] | None = None,
        attachments_context: Sequence[Attachment | bytes | str] | None = None,
    ) -> None: ...
    def to_dict(self) -> dict[str, Any]: ...
