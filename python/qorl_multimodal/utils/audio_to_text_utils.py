"""Reading audio from every kind of source."""

from qorl_multimodal._native import is_binary_data_audio, get_audio_from_base64, get_audio_from_file_path, get_audio_from_youtube_url, get_audio_duration, convert_audio_to_mono_flac, is_youtube_url, detect_audio_format, _AsyncUtilities

_async_utilities = _AsyncUtilities()
get_audio_from_downloadable_url = _async_utilities.get_audio_from_downloadable_url
get_audio_from_downloadable_url_sync = _async_utilities.get_audio_from_downloadable_url_sync
