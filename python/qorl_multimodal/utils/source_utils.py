"""File and URL sources."""

from qorl_multimodal._native import get_file_from_file_path, _AsyncUtilities

_async_utilities = _AsyncUtilities()
get_file_from_url = _async_utilities.get_file_from_url
get_file_from_url_sync = _async_utilities.get_file_from_url_sync
