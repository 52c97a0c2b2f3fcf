#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>

#include "clients/common/polling.hpp"
#include "clients/common/url.hpp"
#include "clients/http/policy.hpp"
#include "clients/prosa/stt.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/unsupported_media.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::prosa_audio_to_text {

using clients::prosa::SttJobStatus;
using clients::prosa::SttSegment;
using qorl_core::Map;
using qorl_core::Value;
using qorl_core::redaction::redact_url;
using qorl_core::redaction::redact_urls;

namespace {

bool non_empty(const std::optional<std::string>& text) { return text && !text->empty(); }

// An answer as the service client reads it.
nlohmann::json wire(const Value& answer) { return qorl_core::to_ordered_json(answer); }

}  // namespace

ProsaAudioToText::ProsaAudioToText(Params params)
    : api_key(std::move(params.api_key)),
      url(std::move(params.url)),
      model(std::move(params.model)),
      max_polls(params.max_polls),
      _polling_interval(params.polling_interval) {
  if (max_polls && *max_polls < 1) throw qorl_core::ValueError("max_polls must be at least 1");
}

void ProsaAudioToText::polling_interval(const Value& value) {
  if (!value.is_int() || value.as_int() < MIN_POLLING_INTERVAL) {
    throw qorl_core::ValueError("Polling interval must be an int with minimum value of " +
                                std::to_string(MIN_POLLING_INTERVAL));
  }
  _polling_interval = value.as_int();
}

boost::asio::awaitable<std::vector<AudioTranscript>> ProsaAudioToText::convert(
    std::string audio_source) {
  logger().debug("Converting audio source: %s", redact_url(audio_source));

  const utils::source_utils::Fetched file =
      co_await utils::audio_to_text_utils::fetch_audio_from_file_path(audio_source);
  if (const auto& audio = file.bytes; audio && !audio->empty()) {
    logger().debug("Audio source is a valid audio file path: %s", audio_source);
    if (co_await utils::audio_to_text_utils::async_get_audio_duration(*audio) >
        MAX_BASE64_AUDIO_DURATION) {
      throw qorl_core::ValueError(
          "Audio duration exceeds 55 seconds (max duration for base64 encoding)");
    }
    co_return co_await _process_audio_transcription(qorl_core::base64_encode(audio->view()),
                                                    std::nullopt);
  }

  const utils::source_utils::Fetched base64 =
      co_await utils::audio_to_text_utils::fetch_audio_from_base64(audio_source);
  if (const auto& audio = base64.bytes; audio && !audio->empty()) {
    logger().debug("Audio source is a valid base64 encoded audio string: %s", audio_source);
    if (co_await utils::audio_to_text_utils::async_get_audio_duration(*audio) >
        MAX_BASE64_AUDIO_DURATION) {
      throw qorl_core::ValueError(
          "Audio duration exceeds 55 seconds (max duration for base64 encoding)");
    }
    co_return co_await _process_audio_transcription(audio_source, std::nullopt);
  }

  if (_is_valid_url(audio_source)) {
    logger().debug("Audio source is a URL: %s", redact_url(audio_source));
    co_return co_await _process_audio_transcription(std::nullopt, audio_source);
  }

  qorl_core::throw_with_cause(
      utils::unsupported_media::UnsupportedMediaError("Unsupported audio source"), file.failure);
}

bool ProsaAudioToText::_is_valid_url(const std::string& audio_source) const {
  // Split leniently: a link with a blank or a non-ASCII letter in it is sent percent-encoded.
  const clients::common::UrlParts parts = clients::common::split_url(audio_source);
  return qorl_core::ascii_lower(parts.scheme) == "https" && !parts.network_location.empty();
}

boost::asio::awaitable<std::vector<AudioTranscript>> ProsaAudioToText::_process_audio_transcription(
    std::optional<std::string> audio_base64, std::optional<std::string> audio_url) {
  if (!non_empty(audio_base64) && !non_empty(audio_url)) {
    throw qorl_core::ValueError("Either audio_base64 or audio_url must be provided");
  }
  if (non_empty(audio_base64)) {
    logger().debug("Submitting transcription request: %s", *audio_base64);
  } else {
    logger().debug("Submitting transcription request: %s", redact_url(*audio_url));
  }

  // The call policy's deadline (the command's --timeout) bounds the whole job, polls included.
  const auto time_limit = clients::http::default_call_policy().retry.deadline;
  const std::chrono::milliseconds interval = std::chrono::seconds(polling_interval());
  clients::common::Poller poller({interval, interval, 1.0}, time_limit);
  const Value answer = co_await _submit_stt_request(audio_base64, audio_url);
  log_answer("Received transcription request response: %s", answer);

  const std::string job_id = clients::prosa::read_job_id(wire(answer));
  if (job_id.empty()) {
    throw qorl_core::ValueError("Failed to get job ID from transcription request. API response: " +
                                qorl_core::repr(redact_urls(answer)));
  }

  std::optional<Map> record;
  for (std::int64_t polls = 1;; ++polls) {
    co_await poller.wait();
    logger().debug("Polling transcription result for job ID: %s", job_id);
    record = co_await _query_stt_result(job_id);
    if (record) break;
    if (max_polls && polls >= *max_polls) {
      throw qorl_core::ValueError("Transcription job " + job_id + " is not complete after " +
                                  std::to_string(polls) + " polls");
    }
    if (!poller.next_wait_fits()) {
      throw qorl_core::ValueError(
          fmt::format("Transcription job {} is not complete within the time limit of {:g} s",
                      job_id, std::chrono::duration<double>(*time_limit).count()));
    }
  }
  log_answer("Received transcription result: %s", *record);
  co_return _result_to_audio_transcript(*record);
}

clients::prosa::SttClient ProsaAudioToText::client() const {
  clients::prosa::SttOptions options;
  options.api_key = api_key;
  options.url = url;
  return clients::prosa::SttClient(std::move(options));
}

void ProsaAudioToText::log_answer(const char* format, const Value& answer) const {
  // Rendered only when debug is on: a long recording's result is large.
  if (!logger().is_enabled_for(qorl_core::LogLevel::DEBUG)) return;
  // Answers echo the audio URI, which may be signed.
  logger().debug(format, qorl_core::repr(redact_urls(answer)));
}

boost::asio::awaitable<Value> ProsaAudioToText::_submit_stt_request(
    std::optional<std::string> audio_base64, std::optional<std::string> audio_url) {
  if (!non_empty(audio_base64) && !non_empty(audio_url)) {
    throw qorl_core::ValueError("Either audio_base64 or audio_url must be provided");
  }
  clients::prosa::SttJobRequest job{model, std::nullopt, std::nullopt};
  if (non_empty(audio_base64)) {
    job.data = std::move(audio_base64);
  } else {
    job.uri = std::move(audio_url);
  }
  const clients::prosa::SttAnswer answer = co_await client().submit_job(std::move(job));
  co_return qorl_core::from_json(answer.body, "Prosa STT");
}

boost::asio::awaitable<std::optional<Map>> ProsaAudioToText::_query_stt_result(std::string job_id) {
  const clients::prosa::SttAnswer answer = co_await client().get_job(job_id);
  if (answer.status != 200) co_return std::nullopt;

  Value record = qorl_core::from_json(answer.body, "Prosa STT");
  const std::optional<SttJobStatus> status = clients::prosa::read_job_status(wire(record));
  if (!status) {
    throw qorl_core::KeyError("Transcription result for job ID " + job_id + " has no status");
  }
  if (*status == SttJobStatus::kComplete) co_return std::move(record.as_map());
  if (*status == SttJobStatus::kFailed) {
    throw qorl_core::ValueError("Transcription job " + job_id + " ended with status 'failed'");
  }
  co_return std::nullopt;
}

std::vector<AudioTranscript> ProsaAudioToText::_result_to_audio_transcript(
    const Map& result) const {
  std::vector<SttSegment> segments;
  try {
    segments = clients::prosa::read_segments(wire(result));
  } catch (const clients::prosa::SttAnswerError& error) {
    qorl_core::throw_with_cause(qorl_core::ValueError(error.what()), std::current_exception());
  }
  std::stable_sort(segments.begin(), segments.end(), [](const SttSegment& a, const SttSegment& b) {
    if (a.channel != b.channel) return a.channel < b.channel;
    return a.time_start < b.time_start;
  });

  // Sorted, so channels appear in ascending order.
  std::vector<std::pair<double, std::string>> combined;
  for (const SttSegment& segment : segments) {
    if (combined.empty() || combined.back().first != segment.channel) {
      combined.emplace_back(segment.channel, segment.transcript);
    } else {
      combined.back().second += " " + segment.transcript;
    }
  }
  std::vector<double> kept;
  std::vector<const std::string*> kept_texts;
  for (const auto& [channel, text] : combined) {
    const bool repeated = std::any_of(kept_texts.begin(), kept_texts.end(),
                                      [&](const std::string* other) { return *other == text; });
    if (repeated) continue;
    kept.push_back(channel);
    kept_texts.push_back(&text);
  }

  std::vector<AudioTranscript> transcripts;
  for (const SttSegment& segment : segments) {
    if (std::find(kept.begin(), kept.end(), segment.channel) == kept.end()) continue;
    AudioTranscript record;
    record.text = segment.transcript;
    record.start_time = segment.time_start;
    record.end_time = segment.time_end;
    transcripts.push_back(std::move(record));
  }
  return transcripts;
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::prosa_audio_to_text
