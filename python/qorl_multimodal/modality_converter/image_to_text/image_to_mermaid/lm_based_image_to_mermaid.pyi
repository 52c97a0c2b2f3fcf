from collections.abc import Mapping
from typing import Any

from qorl_multimodal.modality_converter.image_to_text.image_to_mermaid.image_to_mermaid import BaseImageToMermaid

class LMBasedImageToMermaid(BaseImageToMermaid):
    @staticmethod
    def from_preset(
        preset_name: str | None = "default",
        lm_invoker_kwargs: Mapping[str, Any] | None = None,
        prompt_builder_kwargs: Mapping[str, Any] | None = None,
        **options: Any,
    ) -> LMBasedImageToMermaid: ...
