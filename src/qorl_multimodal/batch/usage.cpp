#include "qorl_multimodal/batch/usage.hpp"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <nlohmann/json.hpp>

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::batch::usage {

namespace {

std::int64_t count_field(const nlohmann::json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) return 0;
  if (!it->is_number_integer() || it->get<std::int64_t>() < 0) {
    throw qorl_core::ValueError(
        fmt::format("usage field {} is not a non-negative whole number", name));
  }
  return it->get<std::int64_t>();
}

}  // namespace

Usage& Usage::operator+=(const Usage& other) {
  input_tokens += other.input_tokens;
  output_tokens += other.output_tokens;
  total_tokens += other.total_tokens;
  audio_seconds += other.audio_seconds;
  requests += other.requests;
  return *this;
}

std::string Usage::to_json() const {
  return nlohmann::ordered_json{{"input_tokens", input_tokens},
                                {"output_tokens", output_tokens},
                                {"total_tokens", total_tokens},
                                {"audio_seconds", audio_seconds},
                                {"requests", requests}}
      .dump();
}

Usage Usage::from_json(std::string_view text) {
  const nlohmann::json object = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!object.is_object()) throw qorl_core::ValueError("usage is not a JSON object");
  Usage usage;
  usage.input_tokens = count_field(object, "input_tokens");
  usage.output_tokens = count_field(object, "output_tokens");
  usage.total_tokens = count_field(object, "total_tokens");
  usage.requests = count_field(object, "requests");
  if (const auto it = object.find("audio_seconds"); it != object.end()) {
    if (!it->is_number() || !(it->get<double>() >= 0)) {
      throw qorl_core::ValueError("usage field audio_seconds is not a non-negative number");
    }
    usage.audio_seconds = it->get<double>();
  }
  return usage;
}

std::string format_count(std::int64_t count) {
  const std::string digits = std::to_string(count < 0 ? -static_cast<std::uint64_t>(count)
                                                      : static_cast<std::uint64_t>(count));
  std::string out = count < 0 ? "-" : "";
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

std::string format_tokens(std::int64_t tokens) {
  if (tokens < 1000) return std::to_string(tokens);
  constexpr std::array<std::pair<double, const char*>, 3> kUnits{
      {{1e3, "k"}, {1e6, "M"}, {1e9, "B"}}};
  for (std::size_t i = 0; i < kUnits.size(); ++i) {
    const auto [scale, suffix] = kUnits[i];
    const double value = static_cast<double>(tokens) / scale;
    // One decimal below 10 (1.5k), whole numbers above (80k); 999.7k rounds up to the next unit.
    const double shown = value < 9.95 ? std::round(value * 10) / 10 : std::round(value);
    if (shown >= 1000 && i + 1 < kUnits.size()) continue;
    return shown < 10 && shown != std::floor(shown) ? fmt::format("{:.1f}{}", shown, suffix)
                                                    : fmt::format("{:.0f}{}", shown, suffix);
  }
  return {};  // not reached: the last unit always returns
}

std::string format_audio(double seconds) {
  if (seconds >= 3600) return fmt::format("{:.1f} audio hours", seconds / 3600);
  if (seconds >= 60) return fmt::format("{:.1f} audio minutes", seconds / 60);
  return fmt::format("{:.0f} audio seconds", seconds);
}

std::string format_elapsed(std::chrono::duration<double> elapsed) {
  const auto total = static_cast<std::int64_t>(std::llround(std::max(0.0, elapsed.count())));
  const std::int64_t hours = total / 3600;
  const std::int64_t minutes = total / 60 % 60;
  const std::int64_t seconds = total % 60;
  if (hours > 0) return fmt::format("{}h{:02}m{:02}s", hours, minutes, seconds);
  if (minutes > 0) return fmt::format("{}m{:02}s", minutes, seconds);
  return fmt::format("{}s", seconds);
}

std::string format_summary(const RunSummary& summary) {
  std::string line = format_count(summary.done) + " done";
  if (summary.from_store > 0) line += " (" + format_count(summary.from_store) + " from the store)";
  line += ", " + format_count(summary.failed) + " failed";
  if (summary.skipped > 0) line += ", " + format_count(summary.skipped) + " skipped";
  if (summary.pending > 0) line += ", " + format_count(summary.pending) + " waiting in a batch";
  if (summary.batch_mode) line += " (batch mode)";
  const Usage& usage = summary.usage;
  if (usage.input_tokens > 0 || usage.output_tokens > 0) {
    line += "; " + format_tokens(usage.input_tokens) + " tokens in, " +
            format_tokens(usage.output_tokens) + " out";
  } else if (usage.total_tokens > 0) {
    line += "; " + format_tokens(usage.total_tokens) + " tokens";
  }
  if (usage.audio_seconds > 0) line += "; " + format_audio(usage.audio_seconds);
  line += "; " + format_elapsed(summary.elapsed);
  if (summary.stopped_early) line += "; stopped early";
  return line;
}

}  // namespace qorl_multimodal::batch::usage
