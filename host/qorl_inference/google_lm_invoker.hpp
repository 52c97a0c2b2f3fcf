// Gemini models through the generateContent REST method (API version v1beta).
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "clients/http/rate_limiter.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/retry.hpp"
#include "qorl_inference/lm_invoker.hpp"

namespace qorl_inference {

class GeminiBatcher;

struct GoogleLMInvokerOptions {
  std::string model_name;  // "gemini-2.5-flash"
  // Empty: the environment's GEMINI_API_KEY, else GOOGLE_API_KEY.
  std::string api_key;
  // The record the answer is parsed into; none for a plain text answer.
  std::shared_ptr<ResponseSchema> response_schema;
  qorl_core::RetryConfig retry_config;
  // Empty: the environment's GOOGLE_GEMINI_BASE_URL, else the public endpoint.
  std::string base_url;
  // Attachments that would make one request larger than this go through the Files API.
  std::size_t inline_data_limit = 20 * 1024 * 1024;
  RetryBackoff backoff;
  std::chrono::milliseconds file_poll_interval{2000};
  std::chrono::milliseconds file_processing_timeout{std::chrono::minutes(10)};
  // The run's rate limits, shared by every invoker of the run; none: the process's default
  // (clients::http::set_default_rate_limits), and no pacing when that is unset too.
  std::shared_ptr<clients::http::RateLimiterRegistry> rate_limits;
  // Set: requests go through this batcher's batch mode (at half the price, answered within
  // hours) instead of generateContent; it must be for the same model and key.
  std::shared_ptr<GeminiBatcher> batcher;
};

class GoogleLMInvoker : public BaseLMInvoker {
 public:
  // ValueError for an empty model name. A missing key fails at invocation, not here.
  explicit GoogleLMInvoker(GoogleLMInvokerOptions options);

  const std::string& model_name() const noexcept { return options_.model_name; }
  const std::string& base_url() const noexcept { return options_.base_url; }

 protected:
  // System messages become the system instruction, user messages the contents, their parts in
  // order: texts, bytes as inline data (uploaded first when over the inline limit), URLs
  // (YouTube links included) as file data.
  boost::asio::awaitable<ModelAnswer> _invoke(std::vector<Message> messages) override;

 private:
  GoogleLMInvokerOptions options_;
  std::shared_ptr<qorl_core::Logger> logger_;
};

}  // namespace qorl_inference
