#include "cli/output.hpp"

#include <unicode/utf8.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/redaction.hpp"

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

bool showable(double seconds) { return seconds >= 0 && seconds <= kLatestTimestamp; }

double clamped(double seconds) {
  return std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, kLatestTimestamp);
}

Rendered cues(const std::vector<AudioTranscript>& segments, TranscriptFormat format) {
  const char separator = format == TranscriptFormat::kSrt ? ',' : '.';
  Rendered out{format == TranscriptFormat::kVtt ? "WEBVTT\n\n" : "", {}};
  int number = 0;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const auto& segment = segments[i];
    const std::string which = "segment " + std::to_string(i + 1);
    if (!showable(segment.start_time) || !showable(segment.end_time)) {
      out.warnings.push_back(which + ": time out of range (" + shortest_number(segment.start_time) +
                             " to " + shortest_number(segment.end_time) + " s), clamped");
    }
    const double start = clamped(segment.start_time), end = clamped(segment.end_time);
    if (start > end) {
      out.warnings.push_back(which + ": starts after it ends (" + shortest_number(start) + " > " +
                             shortest_number(end) + " s), left out");
      continue;
    }
    if (format == TranscriptFormat::kSrt) out.text += std::to_string(++number) + "\n";
    out.text += timestamp(start, separator) + " --> " + timestamp(end, separator) + "\n" +
                cue_text(segment.text) + "\n\n";
  }
  return out;
}

std::string base_name(const std::string& source) {
  // Inline data names nothing.
  if (source.starts_with("data:") || qorl_core::base64_decode(source)) return "";
  std::string path = source;
  if (const auto scheme = source.find("://"); scheme != std::string::npos) {
    path = source.substr(scheme + 3);
    path = path.substr(0, path.find_first_of("?#"));
    // A URL with no path names nothing.
    if (path.find('/') == std::string::npos) return "";
  }
  const std::string stem = std::filesystem::path(path).stem().string();
  const bool usable = !stem.empty() && stem.size() <= 100 && stem != "." && stem != ".." &&
                      stem.find_first_of("/\\:;,") == std::string::npos;
  return usable ? stem : "";
}

}  // namespace

std::string timestamp(double seconds, char separator) {
  const long long total_ms = std::llround(clamped(seconds) * 1000);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", total_ms / 3600000,
                total_ms / 60000 % 60, total_ms / 1000 % 60, separator, total_ms % 1000);
  return text;
}

Rendered transcript(const std::vector<AudioTranscript>& segments, TranscriptFormat format) {
  if (format != TranscriptFormat::kText) return cues(segments, format);
  Rendered out;
  for (const auto& segment : segments) out.text += segment.text + "\n";
  return out;
}

std::string json_line(const std::string& source, const qorl_core::Value& result, bool cached,
                      const std::string& usage, const std::string& via) {
  nlohmann::ordered_json line;
  line["source"] = source;
  line["result"] = qorl_core::to_ordered_json(result);
  if (cached) line["cached"] = true;
  if (!usage.empty()) line["usage"] = nlohmann::ordered_json::parse(usage);
  if (!via.empty()) line["via"] = via;
  // Invalid UTF-8 from a service is replaced rather than ending the run.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string json_error_line(const std::string& source, const std::string& error) {
  nlohmann::ordered_json line;
  line["source"] = source;
  line["error"] = error;
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string shortest_number(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

std::string one_line(std::string message) {
  std::replace_if(
      message.begin(), message.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return qorl_core::redaction::redact_text(message);
}

std::string escape_controls(std::string_view text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::string out;
  out.reserve(text.size());
  for (std::int32_t at = 0; at < length;) {
    const std::int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    char escape[16];
    if (c < 0) {
      // Not UTF-8: each byte of the sequence on its own, the next one may start a character.
      at = start + 1;
      std::snprintf(escape, sizeof escape, "\\x%02x", bytes[start]);
    } else if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c));
    } else if (c >= 0x80 && c <= 0x9f) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
    } else {
      out.append(
          text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
      continue;
    }
    out += escape;
  }
  return out;
}

std::string for_descriptor(int fd, std::string text) {
  return ::isatty(fd) == 1 ? escape_controls(text) : text;
}

std::string error_text(const std::exception& error) { return qorl_core::describe(error); }

std::string FileStems::next(const std::string& source) {
  std::string stem = base_name(source);
  ++count_;
  if (stem.empty()) stem = "source-" + std::to_string(count_);
  const int use = ++uses_[stem];
  return use == 1 ? stem : stem + "-" + std::to_string(use);
}

}  // namespace qorl_cli::output
