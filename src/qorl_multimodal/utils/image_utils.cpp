#include "qorl_multimodal/utils/image_utils.hpp"

#include <unordered_set>

#include "qorl_core/logger_manager.hpp"
#include "qorl_core/text.hpp"

namespace qorl_multimodal::utils::image_utils {
namespace {

namespace media = media_source_utils;

qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.image_utils">();
}

const media::MediaKind kImage{"image", "an", &logger};

}  // namespace

bool is_binary_image(const qorl_core::Bytes& image_binary_data) {
  return media::is_binary_media(image_binary_data, kImage);
}

std::optional<qorl_core::Bytes> get_image_from_base64(const qorl_core::Value& image_source) {
  return media::get_media_from_base64(image_source, kImage);
}

std::optional<ImageBinary> _get_image_from_binary_or_base64(const qorl_core::Value& image_source) {
  return media::get_media_from_binary_or_base64(image_source, kImage);
}

boost::asio::awaitable<std::optional<ImageBinary>> _get_image_from_external_source(
    std::string image_source) {
  return media::get_media_from_external_source(std::move(image_source), kImage);
}

boost::asio::awaitable<ImageBinary> get_image_binary(qorl_core::Value image_source) {
  return media::get_media_binary(std::move(image_source), kImage);
}

std::vector<std::string> get_unique_non_empty_strings(const std::vector<std::string>& texts) {
  std::vector<std::string> unique;
  std::unordered_set<std::string> seen;
  for (const auto& text : texts) {
    std::string stripped(qorl_core::strip_unicode(text));
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
