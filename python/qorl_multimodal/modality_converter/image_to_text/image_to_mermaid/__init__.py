"""Image-to-mermaid modules for generating mermaid syntax from chart images."""

from qorl_multimodal.modality_converter.image_to_text.image_to_mermaid.lm_based_image_to_mermaid import LMBasedImageToMermaid

__all__ = ["LMBasedImageToMermaid"]
