"""Resolving image sources to bytes."""

from qorl_multimodal._native import combine_strings, get_unique_non_empty_strings, is_binary_image, _AsyncUtilities

_async_utilities = _AsyncUtilities()
get_image_binary = _async_utilities.get_image_binary
get_image_binary_sync = _async_utilities.get_image_binary_sync
