from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter
from qorl_multimodal.modality_transformer.image_modality_transformer.image_modality_transformer import (
    ImageModalityTransformer,
)

class StandardImageModalityTransformer(ImageModalityTransformer):
    @property
    def route_mapping(self) -> dict[str, BaseModalityConverter]: ...
    @staticmethod
    def from_preset(preset_name: str = "default") -> StandardImageModalityTransformer: ...
