// Resolution of a media source of one kind (images, videos) to its bytes and a file name. A
// source is raw bytes, base64 text, a local path, an HTTP(S) URL, an S3 location or a Google
// Drive link or id; kinds are tried in that order and the first whose bytes have the media's
// content type, sniffed from the content, wins.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qorl_core/value.hpp"

namespace qorl_core {
class Logger;
}

namespace qorl_multimodal::utils::media_source_utils {

// (media bytes, file name).
using MediaBinary = std::pair<qorl_core::Bytes, std::string>;

// One kind of media: its content types begin with `noun` + "/", its log lines and errors name it
// ("image source", "Not an image file", "Unsupported image format"), and go to `logger`.
struct MediaKind {
  std::string_view noun;     // "image"
  std::string_view article;  // "an"
  qorl_core::Logger& (*logger)();
};

// True when the sniffed content type is of the kind; every failure is false (and logged).
bool is_binary_media(const qorl_core::Bytes& data, const MediaKind& kind);
// Why `data` is not of the kind (logged as is_binary_media does), or null when it is.
std::exception_ptr media_failure(const qorl_core::Bytes& data, const MediaKind& kind);

// The decoded bytes of strict base64 text (or bytes holding such text) when they are of the kind.
std::optional<qorl_core::Bytes> get_media_from_base64(const qorl_core::Value& source,
                                                      const MediaKind& kind);

// Bytes of the kind as they are, else decoded base64 of the kind; file name "not_given".
std::optional<MediaBinary> get_media_from_binary_or_base64(const qorl_core::Value& source,
                                                           const MediaKind& kind);

// A local file, an HTTP(S) download, an S3 object or a Drive file, in this order.
boost::asio::awaitable<std::optional<MediaBinary>> get_media_from_external_source(
    std::string source, MediaKind kind);

// get_media_from_external_source, keeping why the kind of source the text was meant as (an
// existing path, an http(s) URL, an s3:// location, a Drive link) gave no media.
struct LocatedMedia {
  std::optional<MediaBinary> media{};
  std::exception_ptr failure{};
};
boost::asio::awaitable<LocatedMedia> locate_external_media(std::string source, MediaKind kind);

// ValueError "Unsupported <noun> format" when no kind of source yields media of the kind, with the
// reason of the source's own kind nested in it when there is one.
boost::asio::awaitable<MediaBinary> get_media_binary(qorl_core::Value source, MediaKind kind);

}  // namespace qorl_multimodal::utils::media_source_utils
