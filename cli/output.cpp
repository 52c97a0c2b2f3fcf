#include "cli/output.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "qorl_core/json.hpp"
#include "qorl_multimodal/utils/log_redaction.hpp"

namespace qorl_cli::output {
namespace {

// A cue's text must hold no blank line (it would end the cue) and no arrow (it would read as
// timing).
std::string cue_text(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") != std::string::npos) {
      for (std::size_t at = line.find("-->"); at != std::string::npos; at = line.find("-->", at)) {
        line.replace(at, 3, "->");
      }
      out += out.empty() ? line : "\n" + line;
    }
    start = end + 1;
  }
  return out;
}

std::string cues(const std::vector<AudioTranscript>& segments, TranscriptFormat format) {
  const char separator = format == TranscriptFormat::kSrt ? ',' : '.';
  std::string out = format == TranscriptFormat::kVtt ? "WEBVTT\n\n" : "";
  int number = 0;
  for (const auto& segment : segments) {
    if (format == TranscriptFormat::kSrt) out += std::to_string(++number) + "\n";
    out += timestamp(segment.start_time, separator) + " --> " + timestamp(segment.end_time, separator) +
           "\n" + cue_text(segment.text) + "\n\n";
  }
  return out;
}

}  // namespace

std::string timestamp(double seconds, char separator) {
  const long long total_ms = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds * 1000) : 0;
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", total_ms / 3600000,
                total_ms / 60000 % 60, total_ms / 1000 % 60, separator, total_ms % 1000);
  return text;
}

std::string transcript(const std::vector<AudioTranscript>& segments, TranscriptFormat format) {
  if (format != TranscriptFormat::kText) return cues(segments, format);
  std::string out;
  for (const auto& segment : segments) out += segment.text + "\n";
  return out;
}

qorl_core::Value transcript_records(const std::vector<AudioTranscript>& segments) {
  qorl_core::List records;
  for (const auto& segment : segments) records.emplace_back(segment.to_map());
  return records;
}

std::string json_line(const std::string& source, const qorl_core::Value& result) {
  nlohmann::ordered_json line;
  line["source"] = source;
  line["result"] = qorl_core::to_ordered_json(result);
  // Invalid UTF-8 from a service is replaced rather than ending the run.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string one_line(std::string message) {
  std::string line;
  std::size_t start = 0;
  while (start < message.size()) {
    const std::size_t end = std::min(message.find_first_of(" \t\r\n", start), message.size());
    line += qorl_multimodal::utils::log_redaction::redact_url(std::string_view(message).substr(start, end - start));
    if (end < message.size()) line += ' ';
    start = end + 1;
  }
  return line;
}

}  // namespace qorl_cli::output
