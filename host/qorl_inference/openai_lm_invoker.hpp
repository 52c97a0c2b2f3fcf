// Models behind the OpenAI chat-completions protocol: the hosted API and the self-hosted
// engines that speak it (vLLM, llama.cpp server, Ollama).
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <string>
#include <vector>

#include "clients/http/rate_limiter.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/retry.hpp"
#include "qorl_inference/lm_invoker.hpp"

namespace qorl_inference {

struct OpenAILMInvokerOptions {
  std::string model_name;
  // Empty: the environment's OPENAI_API_KEY; still empty, requests carry no key (self-hosted
  // servers often need none).
  std::string api_key;
  std::shared_ptr<ResponseSchema> response_schema;
  qorl_core::RetryConfig retry_config;
  // Empty: the environment's OPENAI_BASE_URL, else the public API; includes the version
  // ("http://localhost:8000/v1").
  std::string base_url;
  RetryBackoff backoff;
  // The run's rate limits, shared by every invoker of the run; none: the process's default
  // (clients::http::set_default_rate_limits), and no pacing when that is unset too.
  std::shared_ptr<clients::http::RateLimiterRegistry> rate_limits;
};

class OpenAILMInvoker : public BaseLMInvoker {
 public:
  // ValueError for an empty model name.
  explicit OpenAILMInvoker(OpenAILMInvokerOptions options);

  const std::string& model_name() const noexcept { return options_.model_name; }
  const std::string& base_url() const noexcept { return options_.base_url; }

 protected:
  // Images (bytes as data URLs, links as they are), WAV and MP3 audio as input audio, other
  // bytes as files; links of an unknown type are offered as images, links known to be
  // something else are refused. With a response schema the
  // answer is constrained by a JSON-schema response format.
  boost::asio::awaitable<ModelAnswer> _invoke(std::vector<Message> messages) override;

 private:
  OpenAILMInvokerOptions options_;
  std::shared_ptr<qorl_core::Logger> logger_;
};

}  // namespace qorl_inference
