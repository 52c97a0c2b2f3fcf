"""Image-to-caption modules for generating descriptive captions from images."""

from qorl_multimodal.modality_converter.image_to_text.image_to_caption.lm_based_image_to_caption import LMBasedImageToCaption

__all__ = ["LMBasedImageToCaption"]
