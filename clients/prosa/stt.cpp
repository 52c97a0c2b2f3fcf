#include "clients/prosa/stt.hpp"

#include <nlohmann/json.hpp>

#include <cstdint>

#include "clients/common/json_fields.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/common/url.hpp"

namespace clients::prosa {
namespace {

// `config` then `request`, whose one field holds the audio or its URI.
std::string job_body(const SttJobRequest& job) {
  nlohmann::ordered_json request = nlohmann::ordered_json::object();
  if (job.data) {
    request["data"] = *job.data;
  } else {
    request["uri"] = common::encode_url(job.uri.value_or(""));
  }
  const nlohmann::ordered_json body = {
      {"config", {{"model", job.model}, {"wait", false}, {"auto_punctuation", true}}},
      {"request", std::move(request)}};
  return body.dump();
}

class RestSttConnection final : public SttConnection {
 public:
  explicit RestSttConnection(SttOptions options) : options_(std::move(options)) {
    common::check_credential(options_.api_key, "The Prosa API key");
  }

  boost::asio::awaitable<SttAnswer> submit_job(SttJobRequest job) override {
    http::Request request;
    request.method = "POST";
    request.url = options_.url;
    request.headers = {{"x-api-key", options_.api_key}, {"Content-Type", "application/json"}};
    request.body = job_body(job);
    http::CallOptions call;
    call.idempotency = http::Idempotency::kNonIdempotent;
    const http::Response response = co_await http::call(std::move(request), options_.policy, call);
    co_return SttAnswer{response.status, response.body};
  }

  boost::asio::awaitable<SttAnswer> get_job(std::string job_id) override {
    http::Request request;
    // The id comes from the service's answer: it stays one path segment.
    request.url = options_.url + "/" + http::url_encode(job_id);
    request.headers = {{"x-api-key", options_.api_key}};
    const http::Response response = co_await http::call(std::move(request), options_.policy);
    co_return SttAnswer{response.status, response.body};
  }

 private:
  SttOptions options_;
};

}  // namespace

std::shared_ptr<SttConnection> make_stt_connection(SttOptions options) {
  return std::make_shared<RestSttConnection>(std::move(options));
}

namespace {

using nlohmann::json;

SttAnswerError malformed(const std::string& what, const json& value) {
  return SttAnswerError(what + ": " + value.dump(-1, ' ', false, json::error_handler_t::replace));
}

// "result" of a job record.
struct SttResult {
  std::vector<SttSegment> data;
};

}  // namespace

// In SttSegment's own namespace, where the JSON library looks for it.
void from_json(const json& value, SttSegment& segment) {
  if (!value.is_object()) throw malformed("Transcription segment is not an object", value);
  try {
    segment.channel = common::nullable_field_or<double>(value, "channel", -1);
    segment.transcript = common::nullable_field_or<std::string>(value, "transcript");
    segment.time_start = common::nullable_field_or<double>(value, "time_start");
    segment.time_end = common::nullable_field_or<double>(value, "time_end");
  } catch (const common::FieldTypeError& error) {
    throw SttAnswerError("Transcription segment " + std::string(error.what()));
  }
}

namespace {

void from_json(const json& value, SttResult& result) {
  try {
    result.data = common::nullable_field_or<std::vector<SttSegment>>(value, "data");
  } catch (const common::FieldTypeError& error) {
    throw malformed("Transcription result data is not a list", error.value());
  }
}

}  // namespace

std::string read_job_id(const json& submission) {
  if (auto id = common::optional_field<std::string>(submission, "job_id")) return std::move(*id);
  if (auto id = common::optional_field<std::int64_t>(submission, "job_id")) {
    return std::to_string(*id);
  }
  return "";
}

std::optional<SttJobStatus> read_job_status(const json& record) {
  if (!record.is_object() || !record.contains("status")) return std::nullopt;
  const std::string status = common::field_or<std::string>(record, "status");
  if (status == "complete") return SttJobStatus::kComplete;
  // A failed job never completes: waiting on would only spin until the bound.
  if (status == "failed") return SttJobStatus::kFailed;
  return SttJobStatus::kPending;
}

std::vector<SttSegment> read_segments(const json& record) {
  try {
    return common::nullable_field_or<SttResult>(record, "result").data;
  } catch (const common::FieldTypeError& error) {
    throw malformed("Transcription result is not an object", error.value());
  }
}

}  // namespace clients::prosa
