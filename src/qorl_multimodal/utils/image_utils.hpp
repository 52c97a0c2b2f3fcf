// Image source resolution: any supported image source to the image's bytes and a file name.
// Sources are raw bytes, base64 text, a local path, an HTTP(S) URL, an S3 location or a Google
// Drive link or id; kinds are tried in that order and the first whose bytes are an image by
// content wins.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/media_source_utils.hpp"

namespace qorl_multimodal::utils::image_utils {

// (image bytes, file name).
using ImageBinary = media_source_utils::MediaBinary;

// ValueError "Unsupported image format" when no kind of source yields an image.
boost::asio::awaitable<ImageBinary> get_image_binary(qorl_core::Value image_source);

// True when libmagic reads an "image/..." type from the content; every failure is false.
bool is_binary_image(const qorl_core::Bytes& image_binary_data);

// The decoded bytes of strict base64 text (or bytes holding such text) when they are an image.
std::optional<qorl_core::Bytes> get_image_from_base64(const qorl_core::Value& image_source);

// Texts trimmed, without empty ones and repeats, in the order of first occurrence.
std::vector<std::string> get_unique_non_empty_strings(const std::vector<std::string>& texts);

// The texts joined by "\n", unchanged.
std::string combine_strings(const std::vector<std::string>& texts);

// Steps of get_image_binary, declared for tests.
std::optional<ImageBinary> _get_image_from_binary_or_base64(const qorl_core::Value& image_source);
boost::asio::awaitable<std::optional<ImageBinary>> _get_image_from_external_source(
    std::string image_source);

}  // namespace qorl_multimodal::utils::image_utils
