// An audio to text converter using Prosa STT.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "clients/prosa/stt.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::prosa_audio_to_text {

using schema::audio_transcript::AudioTranscript;

// Longest audio sent inline as base64, in seconds; 55 itself is allowed.
inline constexpr double MAX_BASE64_AUDIO_DURATION = 55;
// Smallest polling interval the setter accepts, and the default interval, in seconds.
inline constexpr std::int64_t MIN_POLLING_INTERVAL = 5;
// Result queries of one job before the wait is given up: an hour at the default interval.
inline constexpr std::int64_t DEFAULT_MAX_POLLS = 720;
// The service's job endpoint; results are read from it, "/" and the job id.
inline constexpr const char* DEFAULT_URL = clients::prosa::DEFAULT_STT_URL;

class ProsaAudioToText : public audio_to_text::BaseAudioToText {
 public:
  struct Params {
    // Sent as header "x-api-key" on every request.
    std::string api_key{};
    std::string url = DEFAULT_URL;
    std::string model = "stt-general";
    // Stored as given, without the setter's minimum.
    std::int64_t polling_interval = MIN_POLLING_INTERVAL;
    // Result queries of one job before giving up; none polls until the job ends.
    std::optional<std::int64_t> max_polls = DEFAULT_MAX_POLLS;
  };

  // ValueError when `max_polls` is given and less than 1. Sends no request.
  explicit ProsaAudioToText(Params params);

  // A local file or base64 text of at most 55 seconds of audio (sent inline), or an https URL
  // that the service fetches itself. ValueError "Unsupported audio source" for anything else.
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override;

  // Seconds between two result queries of an unfinished job.
  std::int64_t polling_interval() const noexcept { return _polling_interval; }
  // ValueError unless `value` is an integer of at least MIN_POLLING_INTERVAL.
  void polling_interval(const qorl_core::Value& value);

  std::string api_key;
  std::string url;
  std::string model;
  std::optional<std::int64_t> max_polls;

 protected:
  // Submits the job and polls its result until it is complete.
  boost::asio::awaitable<std::vector<AudioTranscript>> _process_audio_transcription(
      std::optional<std::string> audio_base64, std::optional<std::string> audio_url);

  // One timed record per segment of the channels kept: of channels whose combined text is
  // equal, only the first (smallest channel value) is kept.
  std::vector<AudioTranscript> _result_to_audio_transcript(const qorl_core::Map& result) const;

  // The job record once its status is "complete"; none while it is not (or when the query
  // fails with an HTTP status). ValueError for a job the service reports as failed.
  boost::asio::awaitable<std::optional<qorl_core::Map>> _query_stt_result(std::string job_id);

  // The submission answer, read as JSON whatever the HTTP status.
  boost::asio::awaitable<qorl_core::Value> _submit_stt_request(
      std::optional<std::string> audio_base64, std::optional<std::string> audio_url);

  // An https URL with a network location.
  bool _is_valid_url(const std::string& audio_source) const;

 private:
  // The service client of the current api_key and url.
  clients::prosa::SttClient client() const;
  // A service answer at debug level, its URLs redacted.
  void log_answer(const char* format, const qorl_core::Value& answer) const;

  std::int64_t _polling_interval;
};

}  // namespace qorl_multimodal::modality_converter::audio_to_text::prosa_audio_to_text
