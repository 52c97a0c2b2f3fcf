#include "qorl_multimodal/utils/segment_times.hpp"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>

#include "qorl_multimodal/utils/video_frame_reader.hpp"

namespace qorl_multimodal::utils::segment_times {
namespace {

std::string number(double value) {
  std::string text = std::to_string(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

std::string TimeFixes::describe(double duration) const {
  const auto segments = [](std::size_t count) {
    return std::to_string(count) + (count == 1 ? " segment" : " segments");
  };
  std::string text;
  if (clamped > 0) text = segments(clamped) + " clamped to the media's " + number(duration) + " s";
  if (reordered > 0) {
    text += text.empty() ? segments(reordered) : ", " + std::to_string(reordered);
    text += " reordered";
  }
  return text;
}

TimeFixes fit_to_duration(std::vector<AudioTranscript>& segments, double duration) {
  TimeFixes fixes;
  const auto fit = [duration](double& seconds) {
    const double fitted = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, duration);
    const bool moved = fitted != seconds;
    seconds = fitted;
    return moved;
  };
  for (auto& segment : segments) {
    const bool start_moved = fit(segment.start_time);
    if (fit(segment.end_time) || start_moved) ++fixes.clamped;
  }
  // A segment is moved when it starts before one listed ahead of it.
  double latest_start = 0.0;
  for (const auto& segment : segments) {
    if (segment.start_time < latest_start) ++fixes.reordered;
    latest_start = std::max(latest_start, segment.start_time);
  }
  if (fixes.reordered > 0) {
    std::stable_sort(segments.begin(), segments.end(),
                     [](const auto& a, const auto& b) { return a.start_time < b.start_time; });
  }
  return fixes;
}

std::optional<double> media_duration(const std::string& path) {
  video_frame_reader::route_libav_log();
  AVFormatContext* format = nullptr;
  // "file:" keeps a name that looks like a protocol ("http:...") a plain file.
  const std::string file = "file:" + path;
  if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  std::optional<double> seconds;
  if (avformat_find_stream_info(format, nullptr) >= 0 && format->duration != AV_NOPTS_VALUE &&
      format->duration > 0) {
    seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
  }
  avformat_close_input(&format);
  return seconds;
}

}  // namespace qorl_multimodal::utils::segment_times
