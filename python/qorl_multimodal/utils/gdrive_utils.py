"""Google Drive sources."""

from qorl_multimodal._native import _AsyncUtilities

_async_utilities = _AsyncUtilities()
get_file_from_gdrive = _async_utilities.get_file_from_gdrive
get_file_from_gdrive_sync = _async_utilities.get_file_from_gdrive_sync
