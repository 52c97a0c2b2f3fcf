#include "clients/prosa/stt.hpp"

#include <nlohmann/json.hpp>

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

}  // namespace clients::prosa
