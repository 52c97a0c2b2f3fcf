#include "qorl_inference/http_exchange.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <random>

#include "qorl_core/redaction.hpp"
#include "qorl_inference/exceptions.hpp"

namespace qorl_inference {
namespace {

using std::chrono::milliseconds;

bool is_retryable(long status) { return status == 429 || status >= 500; }

// The service's own error text ({"error": {"message": ...}}), else the start of the body.
std::string error_detail(const std::string& body) {
  const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (json.is_object() && json.contains("error")) {
    const auto& error = json["error"];
    if (error.is_object() && error.contains("message") && error["message"].is_string()) {
      return error["message"].get<std::string>();
    }
    if (error.is_string()) return error.get<std::string>();
  }
  std::string excerpt = body.substr(0, 200);
  if (body.size() > excerpt.size()) excerpt += "...";
  return excerpt;
}

std::string status_summary(const clients::http::Response& response) {
  std::string summary = "HTTP " + std::to_string(response.status);
  if (!response.reason.empty()) summary += " (" + response.reason + ")";
  const std::string detail = error_detail(response.body);
  if (!detail.empty()) summary += ": " + detail;
  return summary;
}

std::optional<milliseconds> retry_after(const clients::http::Response& response) {
  const auto header = response.header("Retry-After");
  if (!header) return std::nullopt;
  long seconds = 0;
  const auto [end, error] = std::from_chars(header->data(), header->data() + header->size(), seconds);
  if (error != std::errc() || end != header->data() + header->size() || seconds < 0) {
    return std::nullopt;
  }
  return milliseconds(seconds * 1000);
}

milliseconds backoff_delay(const RetryBackoff& backoff, int retry) {
  const double full = std::min<double>(static_cast<double>(backoff.initial.count()) *
                                           std::pow(2.0, retry - 1),
                                       static_cast<double>(backoff.max.count()));
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_real_distribution<double> spread(0.5, 1.0);
  return milliseconds(static_cast<long long>(full * spread(random)));
}

}  // namespace

void throw_status_error(const clients::http::Response& response, const ExchangePolicy& policy,
                        std::string_view what) {
  throw BaseInvokerError(qorl_core::redaction::redact_secrets(
      policy.service + " " + std::string(what) + " failed: " + status_summary(response),
      policy.secrets));
}

boost::asio::awaitable<clients::http::Response> send_with_retries(
    clients::http::Session* session, clients::http::Request request, ExchangePolicy policy,
    std::string what) {
  const int attempts = 1 + std::max(0, policy.retry_config.max_retries);
  if (policy.retry_config.timeout > 0) {
    request.timeout = milliseconds(
        static_cast<long long>(std::ceil(policy.retry_config.timeout * 1000.0)));
  }
  std::string failure;
  for (int attempt = 1;; ++attempt) {
    std::optional<milliseconds> server_wait;
    try {
      // Bodies can be large: only attempts that may be followed by another send a copy.
      // (A named local: GCC 12 mishandles temporaries that live across a co_await.)
      clients::http::Request sent = attempt == attempts ? std::move(request) : request;
      clients::http::Response response = co_await session->send(std::move(sent));
      if (!is_retryable(response.status)) co_return response;
      failure = status_summary(response);
      server_wait = retry_after(response);
    } catch (const clients::http::Error& error) {
      failure = error.what();
    }
    if (attempt >= attempts) break;

    milliseconds delay = backoff_delay(policy.backoff, attempt);
    if (server_wait) delay = std::min(std::max(delay, *server_wait), policy.backoff.max);
    if (policy.logger) {
      policy.logger->warning(qorl_core::redaction::redact_secrets(policy.service + " " + what + " failed (" + failure +
                                        "); retrying in " + std::to_string(delay.count()) +
                                        " ms (attempt " + std::to_string(attempt + 1) + " of " +
                                        std::to_string(attempts) + ")",
                                    policy.secrets));
    }
    const auto executor = co_await boost::asio::this_coro::executor;
    boost::asio::steady_timer timer(executor, delay);
    co_await timer.async_wait(boost::asio::use_awaitable);
  }
  const std::string tries =
      attempts > 1 ? " after " + std::to_string(attempts) + " attempts" : std::string();
  throw BaseInvokerError(
      qorl_core::redaction::redact_secrets(policy.service + " " + what + " failed" + tries + ": " + failure, policy.secrets));
}

}  // namespace qorl_inference
