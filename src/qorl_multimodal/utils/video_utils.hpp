// Video utilities for frame extraction and video processing.
#pragma once

#include <string>

#include "qorl_core/value.hpp"

namespace qorl_multimodal::utils::video_utils {

// The frame of the local video at `video_path` shown at `timestamp` seconds, as a complete image
// file in `output_format` ("PNG", "JPEG", ...). A timestamp past the end gives the last frame.
// FileNotFoundError for a missing path, ValueError for a negative timestamp, and ValueError
// (with the cause nested) for anything that fails while decoding or encoding.
qorl_core::Bytes extract_video_frame_at_timestamp(const std::string& video_path, double timestamp,
                                                  const std::string& output_format = "PNG");

}  // namespace qorl_multimodal::utils::video_utils
