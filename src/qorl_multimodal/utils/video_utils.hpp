// Video utilities for frame extraction and video processing.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <string>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/media_source_utils.hpp"

namespace qorl_multimodal::utils::video_utils {

// (video bytes, file name).
using VideoBinary = media_source_utils::MediaBinary;

// The video behind any source the image resolution accepts (bytes, base64 text, a local path, an
// HTTP(S) URL, an S3 location, a Google Drive link or id), accepted when its content is a video.
// File names as for images. ValueError "Unsupported video format" when no kind yields a video.
boost::asio::awaitable<VideoBinary> get_video_binary(qorl_core::Value video_source);

// The frame of the local video at `video_path` shown at `timestamp` seconds, as a complete image
// file in `output_format` ("PNG", "JPEG", ...). A timestamp past the end gives the last frame.
// FileNotFoundError for a missing path, ValueError for a negative timestamp, and ValueError
// (with the cause nested) for anything that fails while decoding or encoding.
qorl_core::Bytes extract_video_frame_at_timestamp(const std::string& video_path, double timestamp,
                                                  const std::string& output_format = "PNG");

}  // namespace qorl_multimodal::utils::video_utils
