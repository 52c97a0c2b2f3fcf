#include "qorl_multimodal/utils/segment_times.hpp"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "qorl_multimodal/utils/video_frame_reader.hpp"

namespace qorl_multimodal::utils::segment_times {
namespace {

std::string number(double value) {
  std::string text = std::to_string(value);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text;
}

// Clamps the times of each segment (any type with double members start_time and end_time) and
// orders the segments by start.
template <typename Segment>
TimeFixes fit_times(std::vector<Segment>& segments, double duration) {
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

template <typename Segments>
std::optional<std::string> fit_to_file(const std::string& source, Segments& segments) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(source, error)) return std::nullopt;
  const std::optional<double> seconds = media_duration(source);
  if (!seconds) return std::nullopt;
  const TimeFixes fixes = fit_to_duration(segments, *seconds);
  if (!fixes.any()) return std::nullopt;
  return fixes.describe(*seconds);
}

}  // namespace

std::optional<std::string> fit_to_media_file(const std::string& source,
                                              std::vector<AudioTranscript>& segments) {
  return fit_to_file(source, segments);
}

std::optional<std::string> fit_to_media_file(const std::string& source, qorl_core::List& segments) {
  return fit_to_file(source, segments);
}

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
  return fit_times(segments, duration);
}

TimeFixes fit_to_duration(qorl_core::List& segments, double duration) {
  struct Fitted {
    qorl_core::Value segment;
    double given_start;
    double given_end;
    double start_time = given_start;
    double end_time = given_end;
  };
  const auto seconds = [](const qorl_core::Value& segment, const char* name) {
    const qorl_core::Value* time = segment.is_map() ? segment.as_map().find(name) : nullptr;
    return time && time->is_number() ? time->as_double() : 0.0;
  };
  std::vector<Fitted> fitted;
  for (auto& segment : segments) {
    const double start = seconds(segment, "start_time");
    const double end = seconds(segment, "end_time");
    fitted.push_back({std::move(segment), start, end});
  }
  const TimeFixes fixes = fit_times(fitted, duration);
  segments.clear();
  for (auto& segment : fitted) {
    // Only moved times are written back, as doubles; the others keep their type.
    if (segment.start_time != segment.given_start)
      segment.segment.as_map().set("start_time", segment.start_time);
    if (segment.end_time != segment.given_end)
      segment.segment.as_map().set("end_time", segment.end_time);
    segments.push_back(std::move(segment.segment));
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
