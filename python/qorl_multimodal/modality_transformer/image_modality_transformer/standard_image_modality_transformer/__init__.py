"""A standard transformer that leverage router to take an image input and outputs to query/bytes."""

from qorl_multimodal.modality_transformer.image_modality_transformer.standard_image_modality_transformer.standard_image_modality_transformer import StandardImageModalityTransformer

__all__ = ["StandardImageModalityTransformer"]
