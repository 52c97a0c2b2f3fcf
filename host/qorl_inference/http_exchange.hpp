// The HTTP side shared by the invokers: retries with backoff, per-attempt time limits, and
// readable errors that carry no credential.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "clients/http/http.hpp"
#include "clients/http/rate_limiter.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/retry.hpp"
#include "qorl_inference/lm_invoker.hpp"

namespace qorl_inference {

struct ExchangePolicy {
  std::string service;  // names the service in messages ("Gemini")
  qorl_core::RetryConfig retry_config;
  RetryBackoff backoff;
  std::vector<std::string> secrets;  // blanked out of every message
  std::shared_ptr<qorl_core::Logger> logger;
  // The run's pacing of this service, key and model; none: unpaced.
  std::shared_ptr<clients::http::RateLimiter> limiter;
};

// The run's limiter of `service` with `api_key` and `model`: from `registry`, else from the
// process's default registry; none when neither is set. It keeps its registry alive.
std::shared_ptr<clients::http::RateLimiter> find_limiter(
    const std::shared_ptr<clients::http::RateLimiterRegistry>& registry, const std::string& service,
    const std::string& api_key, const std::string& model);

// Sends `request` on `session` under the common call policy, with `max_retries` more attempts
// after transient failures and each attempt limited to `timeout` seconds (0: no limit); the
// policy's deadline bounds the whole call (by default a model deadline of 15 minutes), and an
// attempt that timed out is tried again once at most. Returns the first answer that is not
// retried, whatever its status; BaseInvokerError, telling the attempts made, once the retries
// are spent; QuotaExhausted, without a retry, for an answer that says a quota is spent for the
// day (and the limiter, when there is one, then refuses every later request). `what` names the step
// in messages ("generateContent").
boost::asio::awaitable<clients::http::Response> send_with_retries(clients::http::Session* session,
                                                                  clients::http::Request request,
                                                                  ExchangePolicy policy,
                                                                  std::string what);

// BaseInvokerError for an answer with an error status, with the service's own error message.
[[noreturn]] void throw_status_error(const clients::http::Response& response,
                                     const ExchangePolicy& policy, std::string_view what);

}  // namespace qorl_inference
