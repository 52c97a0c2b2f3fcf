#include "qorl_multimodal/utils/media_source_utils.hpp"

#include <boost/url/parse.hpp>

#include <cctype>
#include <filesystem>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_inference/media_type.hpp"
#include "qorl_multimodal/constants.hpp"
#include "qorl_multimodal/utils/gdrive_utils.hpp"
#include "qorl_multimodal/utils/s3_utils.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "qorl_multimodal/utils/unsupported_media.hpp"

namespace qorl_multimodal::utils::media_source_utils {
namespace {

using constants::ImageToTextConstants;
using qorl_core::Bytes;
using qorl_core::Value;

constexpr std::size_t kLoggedSourceLimit = 512;

// "Image" for "image".
std::string title(const MediaKind& kind) {
  std::string text(kind.noun);
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

// Whether `fetched` holds media of the kind; when it holds other bytes, that becomes its failure.
bool is_media(source_utils::Fetched& fetched, const MediaKind& kind) {
  if (!fetched.bytes || fetched.bytes->empty()) return false;
  fetched.failure = media_failure(*fetched.bytes, kind);
  return !fetched.failure;
}

bool is_media(const std::optional<Bytes>& data, const MediaKind& kind) {
  return data && !data->empty() && is_binary_media(*data, kind);
}

// The last "/"-separated component of a URL's path (query and fragment excluded); for text
// that is not a URL, of the text itself.
std::string last_path_component(const std::string& source) {
  std::string path = source;
  if (auto url = boost::urls::parse_uri_reference(source)) path = std::string(url->encoded_path());
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool is_binary_media(const Bytes& data, const MediaKind& kind) {
  return !media_failure(data, kind);
}

std::exception_ptr media_failure(const Bytes& data, const MediaKind& kind) {
  const std::string noun(kind.noun);
  try {
    const std::string mime_type = qorl_inference::sniff_mime_type(data.view());
    if (mime_type.rfind(noun + "/", 0) == 0) return nullptr;
    throw qorl_core::ValueError("Not " + std::string(kind.article) + " " + noun +
                                " file. Detected MIME type: " + mime_type);
  } catch (const std::exception& error) {
    kind.logger().debug("The provided binary data is not a valid " + noun + " file with error: %s",
                        error.what());
    return std::current_exception();
  }
}

std::optional<Bytes> get_media_from_base64(const Value& source, const MediaKind& kind) {
  const std::string noun(kind.noun);
  try {
    kind.logger().debug("Attempting to decode base64 encoded " + noun + " string");
    std::string_view text;
    if (source.is_string()) {
      text = source.as_string();
    } else if (source.is_bytes()) {
      text = source.as_bytes().view();
    } else {
      throw qorl_core::TypeError("argument should be a bytes-like object or ASCII string, not '" +
                                 source.type_name() + "'");
    }
    auto decoded = qorl_core::base64_decode(text);
    if (!decoded) throw qorl_core::ValueError("Invalid base64-encoded string");
    Bytes media(std::move(*decoded));
    if (!is_binary_media(media, kind)) return std::nullopt;
    return media;
  } catch (const std::exception& error) {
    kind.logger().debug("The provided " + noun + " source is not a valid base64 encoded " + noun +
                            " string with error: %s",
                        error.what());
    return std::nullopt;
  }
}

std::optional<MediaBinary> get_media_from_binary_or_base64(const Value& source,
                                                           const MediaKind& kind) {
  const std::string not_given(ImageToTextConstants::NOT_GIVEN);
  if (source.is_bytes() && is_binary_media(source.as_bytes(), kind)) {
    kind.logger().debug(title(kind) + " source is valid binary data");
    return MediaBinary{source.as_bytes(), not_given};
  }
  if (auto decoded = get_media_from_base64(source, kind); is_media(decoded, kind)) {
    kind.logger().debug(title(kind) + " source is a valid base64 encoded " +
                        std::string(kind.noun) + " string");
    return MediaBinary{std::move(*decoded), not_given};
  }
  return std::nullopt;
}

boost::asio::awaitable<std::optional<MediaBinary>> get_media_from_external_source(
    std::string source, MediaKind kind) {
  LocatedMedia located = co_await locate_external_media(std::move(source), kind);
  co_return std::move(located.media);
}

boost::asio::awaitable<LocatedMedia> locate_external_media(std::string source, MediaKind kind) {
  const std::string prefix = title(kind) + " source is a valid ";
  const std::string noun(kind.noun);
  const std::string logged = qorl_core::redaction::redact_url(source);
  std::exception_ptr failure;
  // The last kind the source was meant as says why it failed.
  const auto keep = [&failure](const source_utils::Fetched& fetched) {
    if (fetched.failure) failure = fetched.failure;
  };
  if (auto file = source_utils::read_file_path(source); is_media(file, kind)) {
    kind.logger().debug(prefix + noun + " file path: %s", logged);
    co_return LocatedMedia{
        MediaBinary{std::move(*file.bytes), std::filesystem::path(source).filename().string()}};
  } else {
    keep(file);
  }
  if (!gdrive_utils::is_drive_link_sent_elsewhere(source)) {
    if (auto download = co_await source_utils::fetch_url(source); is_media(download, kind)) {
      kind.logger().debug(prefix + noun + " URL: %s", logged);
      co_return LocatedMedia{MediaBinary{std::move(*download.bytes), last_path_component(source)}};
    } else {
      keep(download);
    }
  }
  if (auto object = co_await s3_utils::fetch_s3(source); is_media(object, kind)) {
    kind.logger().debug(prefix + "S3 URL: %s", logged);
    co_return LocatedMedia{MediaBinary{std::move(*object.bytes), last_path_component(source)}};
  } else {
    keep(object);
  }
  if (auto drive_file = co_await gdrive_utils::fetch_gdrive(source); is_media(drive_file, kind)) {
    kind.logger().debug(prefix + "Google Drive URL: %s", logged);
    co_return LocatedMedia{MediaBinary{std::move(*drive_file.bytes), last_path_component(source)}};
  } else {
    keep(drive_file);
  }
  co_return LocatedMedia{.failure = failure};
}

boost::asio::awaitable<MediaBinary> get_media_binary(Value source, MediaKind kind) {
  const std::string noun(kind.noun);
  const bool debugging = kind.logger().is_enabled_for(qorl_core::LogLevel::DEBUG);
  if (debugging)
    kind.logger().debug("Getting " + noun + " binary data from source: %s",
                        qorl_core::redaction::redact_urls(source, kLoggedSourceLimit));
  if (source.is_string() || source.is_bytes()) {
    if (auto binary = get_media_from_binary_or_base64(source, kind)) co_return std::move(*binary);
  }
  std::exception_ptr failure;
  if (source.is_string()) {
    LocatedMedia external = co_await locate_external_media(source.as_string(), kind);
    if (external.media) co_return std::move(*external.media);
    failure = external.failure;
  }
  if (debugging)
    kind.logger().debug("Failed to get " + noun + " binary data from source: %s",
                        qorl_core::redaction::redact_urls(source));
  qorl_core::throw_with_cause(
      unsupported_media::UnsupportedMediaError("Unsupported " + noun + " format"), failure);
}

}  // namespace qorl_multimodal::utils::media_source_utils
