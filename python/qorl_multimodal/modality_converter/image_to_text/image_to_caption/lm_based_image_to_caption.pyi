from typing import Any

from qorl_multimodal.modality_converter.image_to_text.image_to_caption.image_to_caption import BaseImageToCaption

class LMBasedImageToCaption(BaseImageToCaption):
    @staticmethod
    def from_preset(preset_name: str | None = "default", **options: Any) -> LMBasedImageToCaption: ...
