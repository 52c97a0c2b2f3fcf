from qorl_multimodal.modality_converter.modality_converter import BaseModalityConverter
from qorl_multimodal.modality_transformer.image_modality_transformer.image_modality_transformer import (
    ImageModalityTransformer,
)

class GenericImageModalityTransformer(ImageModalityTransformer):
    @property
    def converter(self) -> BaseModalityConverter | None: ...
    def __init__(self, converter: BaseModalityConverter | None) -> None: ...
