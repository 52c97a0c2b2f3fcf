#include "qorl_inference/http_exchange.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>

#include "clients/common/error_answer.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/http/policy.hpp"
#include "clients/http/rate_signals.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/text.hpp"
#include "qorl_inference/exceptions.hpp"

namespace qorl_inference {
namespace {

using std::chrono::milliseconds;

// The service's own error text ({"error": {"message": ...}}), else the start of the body.
std::string error_detail(const std::string& body, const std::string& service) {
  const auto json = clients::common::parse_json_or_discarded<nlohmann::json>(body, service);
  if (auto message = clients::common::read_error_answer(json).message) return *message;
  std::string excerpt(qorl_core::prefix_characters(body, 200));
  if (body.size() > excerpt.size()) excerpt += "...";
  return excerpt;
}

std::string status_summary(const clients::http::Response& response, const std::string& service) {
  std::string summary = "HTTP " + std::to_string(response.status);
  if (!response.reason.empty()) summary += " (" + response.reason + ")";
  const std::string detail = error_detail(response.body, service);
  if (!detail.empty()) summary += ": " + detail;
  return summary;
}

// The service's failure as data (status, its own code, retryability), the cause of the invoker's
// error, so callers tell a time-out, a rate limit or refused credentials apart without its text.
std::exception_ptr service_cause(const std::string& message, clients::ServiceFailure failure,
                                 const ExchangePolicy& policy) {
  return std::make_exception_ptr(clients::ServiceError(
      qorl_core::redaction::redact_secrets(message, policy.secrets), std::move(failure)));
}

// `summary`: the answer's status_summary.
std::exception_ptr status_cause(const clients::http::Response& response, const std::string& summary,
                                const ExchangePolicy& policy) {
  const auto json =
      clients::common::parse_json_or_discarded<nlohmann::json>(response.body, policy.service);
  return service_cause(summary,
                       clients::http_failure(policy.service, response.status,
                                             clients::common::read_error_answer(json).code),
                       policy);
}

clients::http::CallPolicy call_policy(const ExchangePolicy& policy) {
  // The process-wide policy is the operator's ceiling: it bounds the attempts and, with its
  // deadline, the time of every call.
  clients::http::CallPolicy call = clients::http::default_call_policy();
  call.retry.max_attempts =
      std::min(call.retry.max_attempts, 1 + std::max(0, policy.retry_config.max_retries));
  call.retry.initial_backoff = policy.backoff.initial;
  call.retry.max_backoff = policy.backoff.max;
  call.retry.max_retry_after = std::min(call.retry.max_retry_after, policy.backoff.max);
  call.attempt_timeout = std::nullopt;
  if (policy.retry_config.timeout > 0) {
    call.attempt_timeout =
        milliseconds(static_cast<long long>(std::ceil(policy.retry_config.timeout * 1000.0)));
  }
  return call;
}

// QuotaExhausted when the answer says a quota ran out for good; the limiter passes it on to
// every later request.
void check_quota(const clients::http::Response& response, const ExchangePolicy& policy,
                 const std::string& what) {
  if (response.status != 429) return;
  const auto signal = clients::http::read_rate_signal(response, std::chrono::system_clock::now());
  if (!signal.exhausted) return;
  const std::string message = qorl_core::redaction::redact_secrets(
      policy.service + " " + what + " failed: quota " + signal.exhausted->quota + " exhausted" +
          (signal.exhausted->message.empty() ? std::string() : ": " + signal.exhausted->message),
      policy.secrets);
  const auto error =
      std::make_exception_ptr(QuotaExhausted(message, policy.service, signal.exhausted->quota));
  if (policy.limiter) policy.limiter->exhaust(error);
  std::rethrow_exception(error);
}

}  // namespace

std::shared_ptr<clients::http::RateLimiter> find_limiter(
    const std::shared_ptr<clients::http::RateLimiterRegistry>& registry, const std::string& service,
    const std::string& api_key, const std::string& model) {
  const auto chosen = registry ? registry : clients::http::default_rate_limits();
  if (!chosen) return nullptr;
  return {chosen, &chosen->limiter(service, api_key, model)};
}

void throw_status_error(const clients::http::Response& response, const ExchangePolicy& policy,
                        std::string_view what) {
  const std::string summary = status_summary(response, policy.service);
  qorl_core::throw_with_cause(
      BaseInvokerError(qorl_core::redaction::redact_secrets(
          policy.service + " " + std::string(what) + " failed: " + summary, policy.secrets)),
      status_cause(response, summary, policy));
}

boost::asio::awaitable<clients::http::Response> send_with_retries(clients::http::Session* session,
                                                                  clients::http::Request request,
                                                                  ExchangePolicy policy,
                                                                  std::string what) {
  const clients::http::CallPolicy call = call_policy(policy);
  clients::http::CallOptions options;
  options.kind = clients::http::CallKind::kModel;
  options.session = session;
  options.limiter = policy.limiter.get();
  options.on_retry = [&](const clients::http::RetryNotice& notice) {
    if (!policy.logger) return;
    policy.logger->warning(qorl_core::redaction::redact_secrets(
        policy.service + " " + what + " failed (" +
            (notice.response ? status_summary(*notice.response, policy.service) : notice.failure) +
            "); retrying in " + std::to_string(notice.delay.count()) + " ms (attempt " +
            std::to_string(notice.attempt + 1) + " of " + std::to_string(notice.max_attempts) + ")",
        policy.secrets));
  };
  std::string failure;
  std::exception_ptr cause;
  int attempts = 1;
  try {
    clients::http::Response response =
        co_await clients::http::call(std::move(request), call, options);
    check_quota(response, policy, what);
    if (!clients::http::is_retryable_status(response.status)) co_return response;
    failure = status_summary(response, policy.service);
    cause = status_cause(response, failure, policy);
    attempts = response.attempts;
  } catch (const clients::http::Error& error) {
    failure = error.what();
    cause = service_cause(failure, error.failure(), policy);
    attempts = error.attempts();
  }
  // The attempts made, which a deadline or a repeated time-out may keep below those allowed.
  const std::string tries =
      call.retry.max_attempts > 1
          ? " after " + std::to_string(attempts) + (attempts == 1 ? " attempt" : " attempts")
          : std::string();
  qorl_core::throw_with_cause(
      BaseInvokerError(qorl_core::redaction::redact_secrets(
          policy.service + " " + what + " failed" + tries + ": " + failure, policy.secrets)),
      cause);
}

}  // namespace qorl_inference
