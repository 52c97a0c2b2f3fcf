#include "clients/google/speech.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "clients/common/base64.hpp"
#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/url.hpp"
#include "clients/google/rest.hpp"
#include "clients/google/service_account.hpp"

namespace clients::google {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// google.rpc.Code UNAVAILABLE: the service could not act for now; the same request may succeed.
constexpr int kUnavailable = 14;

// The largest Duration the protobuf JSON mapping allows (10000 years).
constexpr std::int64_t kMaxDurationSeconds = 315576000000;

Error invalid_answer(const std::string& what) {
  return Error("Invalid Speech-to-Text answer: " + what);
}

// A protobuf Duration in its JSON form: seconds with up to nine fractional digits and an "s",
// for example "4.700s" or "-1s".
std::chrono::nanoseconds parse_duration(std::string_view text) {
  const std::string original(text);
  if (!text.ends_with('s')) throw invalid_answer("bad duration " + original);
  text.remove_suffix(1);
  const bool negative = text.starts_with('-');
  if (negative) text.remove_prefix(1);
  const auto dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  const auto digits = [](std::string_view part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (whole.empty() || whole.size() > 12 || !digits(whole) || !digits(fraction) ||
      fraction.size() > 9 || (dot != std::string_view::npos && fraction.empty())) {
    throw invalid_answer("bad duration " + original);
  }
  const std::int64_t seconds = std::stoll(std::string(whole));
  if (seconds > kMaxDurationSeconds) throw invalid_answer("bad duration " + original);
  std::int64_t nanos = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    nanos = nanos * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  }
  const std::chrono::nanoseconds value =
      std::chrono::seconds(seconds) + std::chrono::nanoseconds(nanos);
  return negative ? -value : value;
}

}  // namespace

// Members are read strictly (common::nullable_field): one of another type than documented makes
// the whole answer invalid, as parse_operation reports.
void from_json(const json& value, SpeechRecognitionAlternative& alternative) {
  if (!value.is_object()) throw invalid_answer("an alternative is not an object");
  alternative.transcript = common::nullable_field_or<std::string>(value, "transcript");
}

void from_json(const json& value, SpeechRecognitionResult& result) {
  if (!value.is_object()) throw invalid_answer("a result is not an object");
  result.alternatives =
      common::nullable_field_or<std::vector<SpeechRecognitionAlternative>>(value, "alternatives");
  if (const auto end = common::nullable_field<std::string>(value, "resultEndTime")) {
    result.result_end_time = parse_duration(*end);
  }
  result.language_code = common::nullable_field_or<std::string>(value, "languageCode");
}

void from_json(const json& value, LongRunningRecognizeResponse& response) {
  response.results =
      common::nullable_field_or<std::vector<SpeechRecognitionResult>>(value, "results");
}

void from_json(const json& value, Status& status) {
  status = {common::nullable_field_or<int>(value, "code"),
            common::nullable_field_or<std::string>(value, "message")};
}

void from_json(const json& value, Operation& operation) {
  operation = {common::nullable_field_or<std::string>(value, "name"),
               common::nullable_field_or<bool>(value, "done"),
               common::nullable_field<Status>(value, "error"),
               common::nullable_field<LongRunningRecognizeResponse>(value, "response")};
}

namespace {

Operation parse_operation(const http::Response& answer) {
  const json body = common::parse_json_or_discarded(answer.body, "Speech-to-Text");
  if (!body.is_object()) throw invalid_answer("not a JSON object");
  Operation operation;
  try {
    operation = body.get<Operation>();
  } catch (const common::FieldTypeError& error) {
    throw invalid_answer("unexpected type of " + error.key());
  }
  if (operation.name.empty()) throw invalid_answer("an operation without a name");
  return operation;
}

ordered_json config_json(const RecognitionConfig& config) {
  ordered_json out = ordered_json::object();
  if (config.audio_channel_count) out["audioChannelCount"] = *config.audio_channel_count;
  if (!config.language_code.empty()) out["languageCode"] = config.language_code;
  if (!config.alternative_language_codes.empty()) {
    out["alternativeLanguageCodes"] = config.alternative_language_codes;
  }
  if (config.enable_automatic_punctuation) out["enableAutomaticPunctuation"] = true;
  if (!config.model.empty()) out["model"] = config.model;
  return out;
}

class RestSpeechConnection final : public SpeechConnection {
 public:
  explicit RestSpeechConnection(const SpeechOptions& options)
      : stub_(common::resolve_base_url(options.endpoint, {"QORL_SPEECH_ENDPOINT"}, SPEECH_ENDPOINT),
              options.credentials, options.policy) {}

  boost::asio::awaitable<Operation> long_running_recognize(RecognitionConfig config,
                                                           RecognitionAudio audio) override {
    ordered_json audio_json = ordered_json::object();
    if (audio.content) audio_json["content"] = common::base64_encode(*audio.content);
    if (audio.uri) audio_json["uri"] = *audio.uri;
    http::Request request;
    request.method = "POST";
    request.url = "/v1/speech:longrunningrecognize";
    request.headers = {{"Content-Type", "application/json"}};
    request.body =
        ordered_json{{"config", config_json(config)}, {"audio", std::move(audio_json)}}.dump();
    // A repeated create would start a second recognition.
    const http::Response answer =
        co_await stub_.send(std::move(request), http::Idempotency::kNonIdempotent);
    co_return parse_operation(answer);
  }

  boost::asio::awaitable<Operation> get_operation(std::string name,
                                                  std::chrono::milliseconds timeout) override {
    http::Request request;
    request.url = "/v1/operations/" + common::encode_path(name);
    http::CallPolicy policy = stub_.policy();
    policy.retry.deadline =
        policy.retry.deadline ? std::min(*policy.retry.deadline, timeout) : timeout;
    const http::Response answer =
        co_await stub_.send(std::move(request), http::Idempotency::kIdempotent, policy);
    co_return parse_operation(answer);
  }

 private:
  internal::RestStub stub_;
};

std::string describe(std::chrono::milliseconds timeout) {
  if (timeout.count() % 1000 == 0) return std::to_string(timeout.count() / 1000) + " seconds";
  return std::to_string(timeout.count()) + " milliseconds";
}

}  // namespace

OperationError::OperationError(Status status)
    : Error("Operation failed with status code " + std::to_string(status.code) + ": " +
                status.message,
            {"Speech-to-Text", std::nullopt, std::to_string(status.code),
             status.code == kUnavailable}),
      status_(std::move(status)) {}

OperationTimeoutError::OperationTimeoutError(std::chrono::milliseconds timeout)
    : Error(
          "Operation did not complete within the designated timeout of " + describe(timeout) + ".",
          {"Speech-to-Text", std::nullopt, "timeout", false}) {}

std::string to_json(const RecognitionConfig& config) { return config_json(config).dump(); }

std::shared_ptr<SpeechConnection> make_speech_connection(const SpeechOptions& options) {
  return std::make_shared<RestSpeechConnection>(options);
}

boost::asio::awaitable<LongRunningRecognizeResponse> SpeechClient::wait_for_response(
    Operation operation, std::chrono::milliseconds timeout) const {
  if (call_deadline_) timeout = std::min(timeout, *call_deadline_);
  common::Poller poller(polling_, timeout);
  while (!operation.done) {
    co_await poller.wait();
    const std::chrono::milliseconds remaining = *poller.remaining();
    if (remaining.count() <= 0) throw OperationTimeoutError(timeout);
    bool cut_short = false;
    try {
      operation = co_await connection_->get_operation(operation.name, remaining);
    } catch (const http::Error&) {
      // The exchange was cut short by the deadline.
      if (poller.remaining()->count() > 0) throw;
      cut_short = true;
    }
    if (cut_short) throw OperationTimeoutError(timeout);
  }
  if (operation.error) throw OperationError(std::move(*operation.error));
  if (!operation.response) {
    throw Error("Unexpected state: Long-running operation had neither response nor error set.");
  }
  co_return std::move(*operation.response);
}

}  // namespace clients::google
