// OpenAI audio transcriptions (POST {base}/audio/transcriptions): a value-type client over an
// abstract connection, whose default implementation calls the REST stub under the common call
// policy.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clients/http/policy.hpp"
#include "clients/openai/errors.hpp"

namespace clients::openai {

struct ClientOptions {
  std::string api_key;
  // None: env OPENAI_BASE_URL, else https://api.openai.com/v1.
  std::optional<std::string> base_url;
  // Retries, the time limit of each attempt (ten minutes by default) and the answer's cap.
  http::CallPolicy policy = http::default_call_policy();
};

// The file part of the upload. The audio, which may be large, is not copied: it must stay alive
// until the request has been sent.
struct FileUpload {
  std::string filename;
  std::string_view data;
  std::string content_type;
};

struct TranscriptionCreateParams {
  FileUpload file;
  std::string model;
  std::optional<std::string> language;  // none: left out of the request
  std::optional<std::string> prompt;
  std::optional<std::string> response_format;
  std::optional<double> temperature;
  std::vector<std::string> timestamp_granularities;
};

struct TranscriptionSegment {
  std::string text;
  double start = 0.0;
  double end = 0.0;
};

struct TranscriptionWord {
  std::string word;
  double start = 0.0;
  double end = 0.0;
};

// The answer. JSON formats fill the fields they carry ("verbose_json": language, duration,
// segments, words), each on its own: a missing or null one stays none (a duration may come as
// numeric text); text formats ("text", "srt", "vtt") give the body as `text`.
struct Transcription {
  std::string text;
  std::optional<std::string> language;
  std::optional<double> duration;
  std::optional<std::vector<TranscriptionSegment>> segments;
  std::optional<std::vector<TranscriptionWord>> words;
};

// Where requests go: `options.base_url`, else env OPENAI_BASE_URL, else the public service.
std::string resolved_base_url(const ClientOptions& options);

// Whether `error` is the service refusing `verbose_json` or timestamp granularities for the
// model (OpenAI's gpt-4o-transcribe models, older vLLM): a 400 whose error names either. Such a
// model still answers `json`.
bool refuses_timestamps(const APIStatusError& error);

class AudioTranscriptionsConnection {
 public:
  virtual ~AudioTranscriptionsConnection() = default;
  // Throws the errors of errors.hpp; cancellation propagates as it is. The params are cheap to
  // copy: the audio stays the caller's (see FileUpload).
  virtual boost::asio::awaitable<Transcription> create_transcription(
      TranscriptionCreateParams params) = 0;
};

// The connection to the service (or a compatible server) that `options` describe.
std::shared_ptr<AudioTranscriptionsConnection> make_audio_transcriptions_connection(
    ClientOptions options);

class AudioTranscriptionsClient {
 public:
  explicit AudioTranscriptionsClient(std::shared_ptr<AudioTranscriptionsConnection> connection)
      : connection_(std::move(connection)) {}
  explicit AudioTranscriptionsClient(ClientOptions options)
      : connection_(make_audio_transcriptions_connection(std::move(options))) {}

  // Transcribes audio into the input language.
  [[nodiscard]] boost::asio::awaitable<Transcription> create(
      TranscriptionCreateParams params) const {
    return connection_->create_transcription(std::move(params));
  }

 private:
  std::shared_ptr<AudioTranscriptionsConnection> connection_;
};

}  // namespace clients::openai
