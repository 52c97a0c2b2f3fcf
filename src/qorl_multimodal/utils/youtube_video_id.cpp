#include "qorl_multimodal/utils/youtube_video_id.hpp"

#include <array>

#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/pcre_pattern.hpp"

namespace qorl_multimodal::utils::youtube_video_id {
namespace {

using pcre_pattern::Pattern;

const std::array<Pattern, 2>& video_id_patterns() {
  static const Pattern::Flags unicode{.unicode = true};
  static const std::array<Pattern, 2> patterns{
      Pattern(
          R"((?:youtube\.com/(?:watch\?v=|embed/|v/|e/|shorts/)|youtu\.be/)([\w-]{11})(?![\w-]))",
          unicode),
      Pattern(R"(youtube\.com/.*[?&]v=([\w-]{11})(?![\w-]))", unicode),
  };
  return patterns;
}

}  // namespace

std::optional<std::string> youtube_video_id(const std::string& url) {
  if (!audio_to_text_utils::is_youtube_url(url)) return std::nullopt;
  for (const Pattern& pattern : video_id_patterns()) {
    if (auto id = pattern.search(url)) return id;
  }
  return std::nullopt;
}

}  // namespace qorl_multimodal::utils::youtube_video_id
