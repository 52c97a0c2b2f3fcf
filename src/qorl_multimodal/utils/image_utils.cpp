#include "qorl_multimodal/utils/image_utils.hpp"

#include <boost/url/parse.hpp>

#include <filesystem>
#include <unordered_set>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/text.hpp"
#include "qorl_inference/media_type.hpp"
#include "qorl_multimodal/constants.hpp"
#include "qorl_multimodal/utils/gdrive_utils.hpp"
#include "qorl_multimodal/utils/s3_utils.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"

namespace qorl_multimodal::utils::image_utils {
namespace {

using constants::ImageToTextConstants;
using qorl_core::Bytes;
using qorl_core::Value;

constexpr std::size_t kLoggedSourceLimit = 512;

qorl_core::Logger& logger() {
  static const auto instance = qorl_core::LoggerManager().get_logger("qorl_multimodal.utils.image_utils");
  return *instance;
}

bool is_image(const std::optional<Bytes>& data) { return data && !data->empty() && is_binary_image(*data); }

// The last "/"-separated component of a URL's path (query and fragment excluded); for text
// that is not a URL, of the text itself.
std::string last_path_component(const std::string& source) {
  std::string path = source;
  if (auto url = boost::urls::parse_uri_reference(source)) path = std::string(url->encoded_path());
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool is_binary_image(const Bytes& image_binary_data) {
  try {
    const std::string mime_type = qorl_inference::sniff_mime_type(image_binary_data.view());
    if (mime_type.rfind("image/", 0) == 0) return true;
    throw qorl_core::ValueError("Not an image file. Detected MIME type: " + mime_type);
  } catch (const std::exception& error) {
    logger().debug("The provided binary data is not a valid image file with error: %s", error.what());
    return false;
  }
}

std::optional<Bytes> get_image_from_base64(const Value& image_source) {
  try {
    logger().debug("Attempting to decode base64 encoded image string");
    std::string_view text;
    if (image_source.is_string()) {
      text = image_source.as_string();
    } else if (image_source.is_bytes()) {
      text = image_source.as_bytes().view();
    } else {
      throw qorl_core::TypeError("argument should be a bytes-like object or ASCII string, not '" +
                                 image_source.type_name() + "'");
    }
    auto decoded = qorl_core::base64_decode(text);
    if (!decoded) throw qorl_core::ValueError("Invalid base64-encoded string");
    Bytes image(std::move(*decoded));
    if (!is_binary_image(image)) return std::nullopt;
    return image;
  } catch (const std::exception& error) {
    logger().debug("The provided image source is not a valid base64 encoded image string with error: %s",
                   error.what());
    return std::nullopt;
  }
}

std::optional<ImageBinary> _get_image_from_binary_or_base64(const Value& image_source) {
  const std::string not_given(ImageToTextConstants::NOT_GIVEN);
  if (image_source.is_bytes() && is_binary_image(image_source.as_bytes())) {
    logger().debug("Image source is valid binary data");
    return ImageBinary{image_source.as_bytes(), not_given};
  }
  if (auto decoded = get_image_from_base64(image_source); is_image(decoded)) {
    logger().debug("Image source is a valid base64 encoded image string");
    return ImageBinary{std::move(*decoded), not_given};
  }
  return std::nullopt;
}

boost::asio::awaitable<std::optional<ImageBinary>> _get_image_from_external_source(std::string image_source) {
  if (auto file = source_utils::get_file_from_file_path(image_source); is_image(file)) {
    logger().debug("Image source is a valid image file path: %s", image_source);
    co_return ImageBinary{std::move(*file), std::filesystem::path(image_source).filename().string()};
  }
  if (auto download = co_await source_utils::get_file_from_url(image_source); is_image(download)) {
    logger().debug("Image source is a valid image URL: %s", image_source);
    co_return ImageBinary{std::move(*download), last_path_component(image_source)};
  }
  if (auto object = s3_utils::get_file_from_s3(image_source); is_image(object)) {
    logger().debug("Image source is a valid S3 URL: %s", image_source);
    co_return ImageBinary{std::move(*object), last_path_component(image_source)};
  }
  if (auto drive_file = gdrive_utils::get_file_from_gdrive(image_source); is_image(drive_file)) {
    logger().debug("Image source is a valid Google Drive URL: %s", image_source);
    co_return ImageBinary{std::move(*drive_file), last_path_component(image_source)};
  }
  co_return std::nullopt;
}

boost::asio::awaitable<ImageBinary> get_image_binary(Value image_source) {
  if (logger().is_enabled_for(qorl_core::LogLevel::DEBUG)) {
    Value logged = image_source;
    if (image_source.is_string() && image_source.as_string().size() > kLoggedSourceLimit) {
      logged = image_source.as_string().substr(0, kLoggedSourceLimit);
    }
    logger().debug("Getting image binary data from source: %s", logged);
  }
  if (image_source.is_string() || image_source.is_bytes()) {
    if (auto binary = _get_image_from_binary_or_base64(image_source)) co_return std::move(*binary);
  }
  if (image_source.is_string()) {
    if (auto external = co_await _get_image_from_external_source(image_source.as_string())) {
      co_return std::move(*external);
    }
  }
  logger().debug("Failed to get image binary data from source: %s", image_source);
  throw qorl_core::ValueError("Unsupported image format");
}

std::vector<std::string> get_unique_non_empty_strings(const std::vector<std::string>& texts) {
  std::vector<std::string> unique;
  std::unordered_set<std::string> seen;
  for (const auto& text : texts) {
    std::string stripped(qorl_core::strip(text));
    if (stripped.empty() || !seen.insert(stripped).second) continue;
    unique.push_back(std::move(stripped));
  }
  return unique;
}

std::string combine_strings(const std::vector<std::string>& texts) {
  std::string combined;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i) combined += '\n';
    combined += texts[i];
  }
  return combined;
}

}  // namespace qorl_multimodal::utils::image_utils
