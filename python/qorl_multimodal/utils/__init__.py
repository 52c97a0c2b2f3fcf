"""Utility functions for multimodal modules."""

from qorl_multimodal.utils.audio_to_text_utils import is_binary_data_audio
from qorl_multimodal.utils.audio_to_text_utils import get_audio_from_base64
from qorl_multimodal.utils.audio_to_text_utils import get_audio_from_file_path
from qorl_multimodal.utils.audio_to_text_utils import get_audio_from_downloadable_url
from qorl_multimodal.utils.audio_to_text_utils import get_audio_from_youtube_url
from qorl_multimodal.utils.audio_to_text_utils import get_audio_duration
from qorl_multimodal.utils.audio_to_text_utils import convert_audio_to_mono_flac
from qorl_multimodal.utils.audio_to_text_utils import is_youtube_url
from qorl_multimodal.utils.image_utils import combine_strings
from qorl_multimodal.utils.source_utils import get_file_from_file_path
from qorl_multimodal.utils.gdrive_utils import get_file_from_gdrive
from qorl_multimodal.utils.s3_utils import get_file_from_s3
from qorl_multimodal.utils.source_utils import get_file_from_url
from qorl_multimodal.utils.image_metadata_utils import get_image_metadata
from qorl_multimodal.utils.image_utils import get_unique_non_empty_strings
from qorl_multimodal.utils.video_utils import extract_video_frame_at_timestamp

__all__ = ["is_binary_data_audio", "get_audio_from_base64", "get_audio_from_file_path", "get_audio_from_downloadable_url", "get_audio_from_youtube_url", "get_audio_duration", "convert_audio_to_mono_flac", "is_youtube_url", "combine_strings", "get_file_from_file_path", "get_file_from_gdrive", "get_file_from_s3", "get_file_from_url", "get_image_metadata", "get_unique_non_empty_strings", "extract_video_frame_at_timestamp"]
