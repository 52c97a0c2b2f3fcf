// What a conversion cost (tokens, audio, requests), summed over a run, and the run's closing line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qorl_multimodal::batch::usage {

struct Usage {
  std::int64_t input_tokens = 0;
  std::int64_t output_tokens = 0;
  std::int64_t total_tokens = 0;
  double audio_seconds = 0;
  std::int64_t requests = 0;

  Usage& operator+=(const Usage& other);
  friend Usage operator+(Usage a, const Usage& b) { return a += b; }
  friend bool operator==(const Usage&, const Usage&) = default;

  // {"input_tokens":..,"output_tokens":..,"total_tokens":..,"audio_seconds":..,"requests":..}
  std::string to_json() const;
  // The inverse of to_json; absent fields are 0. ValueError for text that is not such an object
  // or a field that is not a non-negative number.
  static Usage from_json(std::string_view text);
};

// What a run did, for its closing line.
struct RunSummary {
  std::int64_t done = 0;        // sources with a result, those taken from the store included
  std::int64_t from_store = 0;  // of `done`, the results found in the store (nothing paid)
  std::int64_t failed = 0;
  std::int64_t skipped = 0;  // failures already stored and not retried, claims lost
  std::int64_t pending = 0;  // waiting in a detached batch job
  bool batch_mode = false;   // the conversions went through a batch mode (priced apart)
  Usage usage{};
  std::chrono::duration<double> elapsed{};
  bool stopped_early = false;  // asked to stop before every source was started
  // The error of the quota that ran out and stopped the run ("... quota X exhausted ..."); the
  // sources it failed are not stored, so the same run resumes them once the quota is back.
  std::optional<std::string> quota_exhausted{};
};

// "1,200 done (300 from the store), 3 failed; 1.2M tokens in, 80k out; 41.5 audio hours; 12m03s".
// The store's share, the skipped and pending counts, the tokens and the audio are left out when
// zero; a batch-mode run says so after the counts; a run stopped early ends with
// "; stopped early".
std::string format_summary(const RunSummary& summary);

// 1234567 -> "1,234,567".
std::string format_count(std::int64_t count);
// A token count to two significant figures at most: 950, 1.5k, 80k, 1.2M, 3.4B.
std::string format_tokens(std::int64_t tokens);
// Audio length in the largest unit that is at least one: "41.5 audio hours", "12.3 audio minutes",
// "40 audio seconds".
std::string format_audio(double seconds);
// Whole seconds: "45s", "12m03s", "1h02m03s".
std::string format_elapsed(std::chrono::duration<double> elapsed);

}  // namespace qorl_multimodal::batch::usage
