"""Image metadata extraction."""

from qorl_multimodal._native import get_image_metadata
