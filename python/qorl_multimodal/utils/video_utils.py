"""Video frame extraction."""

from qorl_multimodal._native import extract_video_frame_at_timestamp
