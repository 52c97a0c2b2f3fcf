// Google Cloud Speech-to-Text v1 over REST: long-running recognition (speech:longrunningrecognize)
// and the polling of its operation (operations/{name}) until it finishes or a deadline passes.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clients/common/polling.hpp"
#include "clients/google/oauth2.hpp"
#include "clients/http/policy.hpp"

namespace clients::google {

inline constexpr std::string_view SPEECH_ENDPOINT = "https://speech.googleapis.com";

// The recognition settings this client sends; unset ones stay off the wire, so the service's
// defaults apply (without an encoding it reads encoding and sample rate from a FLAC or WAV header).
struct RecognitionConfig {
  std::optional<int> audio_channel_count;
  std::string language_code;
  // At most 3.
  std::vector<std::string> alternative_language_codes;
  bool enable_automatic_punctuation = false;
  std::string model;
};

// The audio file itself (sent base64-encoded) or the "gs://bucket/object" URI of one; set one.
struct RecognitionAudio {
  std::optional<std::string> content;
  std::optional<std::string> uri;
};

struct SpeechRecognitionAlternative {
  std::string transcript;
};

struct SpeechRecognitionResult {
  // Most probable first.
  std::vector<SpeechRecognitionAlternative> alternatives;
  // Offset of the end of this result from the start of the audio.
  std::chrono::nanoseconds result_end_time{0};
  // The BCP-47 tag of the language detected in this result, as the service writes it ("id-id").
  std::string language_code;
};

struct LongRunningRecognizeResponse {
  std::vector<SpeechRecognitionResult> results;
};

// google.rpc.Status of a failed operation.
struct Status {
  int code = 0;
  std::string message;
};

struct Operation {
  std::string name;
  bool done = false;
  // Once done, exactly one of them.
  std::optional<Status> error;
  std::optional<LongRunningRecognizeResponse> response;
};

// A finished operation that failed: "Operation failed with status code <code>: <message>".
// Service "Speech-to-Text"; its code is the google.rpc code's number, retryable when it is
// UNAVAILABLE.
class OperationError : public Error {
 public:
  explicit OperationError(Status status);
  const Status& status() const noexcept { return status_; }

 private:
  Status status_;
};

// The operation was not done when the wait ended. Code "timeout".
class OperationTimeoutError : public Error {
 public:
  explicit OperationTimeoutError(std::chrono::milliseconds timeout);
};

// The settings as the service's JSON (camelCase, unset fields left out); also their text form.
std::string to_json(const RecognitionConfig& config);

// Delays between polls of an operation: the first poll at once, then growing delays.
using common::PollingPolicy;

struct SpeechOptions {
  // None: env QORL_SPEECH_ENDPOINT, else SPEECH_ENDPOINT.
  std::optional<std::string> endpoint{};
  // Null: requests carry no token.
  std::shared_ptr<Credentials> credentials{};
  // Retries, time limits and answer cap of every exchange with the service.
  http::CallPolicy policy = http::default_call_policy();
  PollingPolicy polling{};
};

class SpeechConnection {
 public:
  virtual ~SpeechConnection() = default;
  // Starts a recognition; repeated only where the service cannot have started it. Throws
  // HttpError for an error status, http::Error for a failed transfer, Error for an answer that
  // is no operation. Callers move large audio in.
  virtual boost::asio::awaitable<Operation> long_running_recognize(RecognitionConfig config,
                                                                   RecognitionAudio audio) = 0;
  // The operation's latest state, asked (retries included) within `timeout`. Throws as
  // long_running_recognize.
  virtual boost::asio::awaitable<Operation> get_operation(std::string name,
                                                          std::chrono::milliseconds timeout) = 0;
};

std::shared_ptr<SpeechConnection> make_speech_connection(const SpeechOptions& options);

class SpeechClient {
 public:
  explicit SpeechClient(const SpeechOptions& options)
      : SpeechClient(make_speech_connection(options), options.polling,
                     options.policy.retry.deadline) {}
  // `call_deadline`: the call policy's deadline, which bounds a wait as well.
  explicit SpeechClient(std::shared_ptr<SpeechConnection> connection, PollingPolicy polling = {},
                        std::optional<std::chrono::milliseconds> call_deadline = std::nullopt)
      : connection_(std::move(connection)), polling_(polling), call_deadline_(call_deadline) {}

  [[nodiscard]] boost::asio::awaitable<Operation> long_running_recognize(
      RecognitionConfig config, RecognitionAudio audio) const {
    return connection_->long_running_recognize(std::move(config), std::move(audio));
  }

  // Polls the operation until it is done and returns its response, waiting on timers between
  // polls. Throws OperationError when it failed, OperationTimeoutError when it is not done
  // within `timeout` (or the call deadline, when shorter), and what the connection throws.
  // Cancellation ends the wait at once.
  [[nodiscard]] boost::asio::awaitable<LongRunningRecognizeResponse> wait_for_response(
      Operation operation, std::chrono::milliseconds timeout) const;

 private:
  std::shared_ptr<SpeechConnection> connection_;
  PollingPolicy polling_;
  std::optional<std::chrono::milliseconds> call_deadline_;
};

}  // namespace clients::google
