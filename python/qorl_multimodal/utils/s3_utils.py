"""S3 sources."""

from qorl_multimodal._native import _AsyncUtilities

_async_utilities = _AsyncUtilities()
get_file_from_s3 = _async_utilities.get_file_from_s3
get_file_from_s3_sync = _async_utilities.get_file_from_s3_sync
