from typing import Any

from qorl_multimodal.modality_converter.video_to_text.video_to_caption.video_to_caption import BaseVideoToCaption

class LMBasedVideoToCaption(BaseVideoToCaption):
    @staticmethod
    def from_preset(preset_name: str | None = "default", **options: Any) -> LMBasedVideoToCaption: ...
