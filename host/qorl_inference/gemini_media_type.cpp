#include "qorl_inference/gemini_media_type.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "qorl_core/value.hpp"
#include "qorl_inference/exceptions.hpp"

namespace qorl_inference {
namespace {

constexpr std::array<std::string_view, 30> kDocumented{
    "image/png",  "image/jpeg", "image/webp",      "image/heic",      "image/heif",    "audio/wav",
    "audio/mp3",  "audio/aiff", "audio/aac",       "audio/ogg",       "audio/flac",    "video/mp4",
    "video/mpeg", "video/mov",  "video/avi",       "video/x-flv",     "video/mpg",     "video/webm",
    "video/wmv",  "video/3gpp", "application/pdf", "text/plain",      "text/html",     "text/css",
    "text/csv",   "text/xml",   "text/rtf",        "text/javascript", "text/x-python", "text/md",
};

// Other names of documented types: libmagic's, and the registered ones Gemini spells otherwise.
constexpr std::array<std::pair<std::string_view, std::string_view>, 18> kAliases{{
    {"image/jpg", "image/jpeg"},
    {"audio/x-wav", "audio/wav"},
    {"audio/wave", "audio/wav"},
    {"audio/vnd.wave", "audio/wav"},
    {"audio/mpeg", "audio/mp3"},
    {"audio/x-aiff", "audio/aiff"},
    {"audio/x-flac", "audio/flac"},
    {"audio/x-hx-aac-adts", "audio/aac"},
    {"video/quicktime", "video/mov"},
    {"video/x-msvideo", "video/avi"},
    {"video/msvideo", "video/avi"},
    {"video/x-ms-wmv", "video/wmv"},
    {"video/x-ms-asf", "video/wmv"},
    {"video/x-m4v", "video/mp4"},
    {"video/mp2p", "video/mpeg"},
    {"video/3gp", "video/3gpp"},
    {"text/markdown", "text/md"},
    {"application/x-javascript", "text/javascript"},
}};

std::optional<std::string_view> documented_name(std::string_view detected) {
  if (std::find(kDocumented.begin(), kDocumented.end(), detected) != kDocumented.end()) {
    return detected;
  }
  for (const auto& [alias, documented] : kAliases) {
    if (alias == detected) return documented;
  }
  return std::nullopt;
}

}  // namespace

std::span<const std::string_view> gemini_media_types() noexcept { return kDocumented; }

bool gemini_documents(std::string_view detected) noexcept {
  return documented_name(detected).has_value();
}

std::string gemini_documented_list(std::string_view prefix) {
  std::string list;
  for (const auto type : kDocumented) {
    if (!type.starts_with(prefix)) continue;
    if (!list.empty()) list += ", ";
    list += type;
  }
  return list;
}

std::string gemini_media_type(std::string_view detected) {
  if (const auto documented = documented_name(detected)) return std::string(*documented);
  throw BaseInvokerError("Gemini does not take the media type " + qorl_core::repr(detected) +
                         "; it documents " + gemini_documented_list());
}

}  // namespace qorl_inference
