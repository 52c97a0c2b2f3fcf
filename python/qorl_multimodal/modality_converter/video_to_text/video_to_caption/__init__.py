"""Video-to-caption modules for generating descriptive captions from videos."""

from qorl_multimodal.modality_converter.video_to_text.video_to_caption.lm_based_video_to_caption import LMBasedVideoToCaption

__all__ = ["LMBasedVideoToCaption"]
