"""A modality transformer that takes an image input and outputs to query/bytes."""

from qorl_multimodal.modality_transformer.image_modality_transformer.generic_image_modality_transformer import GenericImageModalityTransformer

__all__ = ["GenericImageModalityTransformer"]
