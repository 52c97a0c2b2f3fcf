#include "clients/http/policy.hpp"

#include <curl/curl.h>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <mutex>
#include <random>

#include "clients/http/rate_limiter.hpp"
#include "clients/http/rate_signals.hpp"

namespace clients::http {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Less than this left of the deadline after the back-off: no attempt is started, it could
// hardly be answered in time.
constexpr milliseconds kMinAttemptTime{250};

milliseconds jittered_backoff(const RetryPolicy& policy, int failed_attempt) {
  const double ceiling = std::min(
      static_cast<double>(policy.initial_backoff.count()) * std::ldexp(1.0, failed_attempt - 1),
      static_cast<double>(policy.max_backoff.count()));
  if (ceiling <= 0) return milliseconds(0);
  thread_local std::mt19937_64 random{std::random_device{}()};
  return milliseconds(
      static_cast<long long>(std::uniform_real_distribution<double>(0, ceiling)(random)));
}

std::string describe_status(const Response& response) {
  std::string text = "HTTP " + std::to_string(response.status);
  if (!response.reason.empty()) text += " (" + response.reason + ")";
  return text;
}

// A non-idempotent request is repeated only when it cannot have been acted on.
bool may_repeat(const Error& error, Idempotency idempotency) {
  if (!error.retryable()) return false;
  return idempotency == Idempotency::kIdempotent || error.kind() == Error::Kind::kConnect;
}

bool may_repeat(const Response& response, Idempotency idempotency) {
  if (!is_retryable_status(response.status)) return false;
  // A quota spent for the day does not come back within a call.
  if (response.status == 429 &&
      read_rate_signal(response, std::chrono::system_clock::now()).exhausted) {
    return false;
  }
  return idempotency == Idempotency::kIdempotent || response.status == 429;
}

}  // namespace

std::optional<milliseconds> retry_after(const Response& response,
                                        std::chrono::system_clock::time_point now) {
  const auto header = response.header("Retry-After");
  if (!header || header->empty()) return std::nullopt;
  const char* first = header->data();
  const char* last = first + header->size();
  double seconds = 0;
  if (const auto [end, error] = std::from_chars(first, last, seconds);
      error == std::errc() && end == last) {
    if (!std::isfinite(seconds) || seconds < 0) return std::nullopt;
    return milliseconds(static_cast<long long>(std::min(seconds, 1e9) * 1000));
  }
  // An HTTP-date: the wait is what remains until then.
  const time_t when = curl_getdate(header->c_str(), nullptr);
  if (when < 0) return std::nullopt;
  const auto until = std::chrono::system_clock::from_time_t(when) - now;
  return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(until));
}

namespace {

std::mutex default_policy_mutex;
CallPolicy& default_policy() {
  static CallPolicy policy;
  return policy;
}

void apply_limits(Request& request, const CallPolicy& policy, CallKind kind) {
  request.connect_timeout = policy.connect_timeout;
  request.max_body_bytes =
      kind == CallKind::kDownload ? policy.max_download_bytes : policy.max_answer_bytes;
  if (kind == CallKind::kModel) {
    if (!request.timeout) request.timeout = policy.attempt_timeout;
  } else if (!request.low_speed_time) {
    request.low_speed_time = policy.stall_time;
  }
}

}  // namespace

CallPolicy default_call_policy() {
  std::lock_guard lock(default_policy_mutex);
  return default_policy();
}

void set_default_call_policy(CallPolicy policy) {
  std::lock_guard lock(default_policy_mutex);
  default_policy() = std::move(policy);
}

CallPolicy download_policy(milliseconds wait, CallPolicy base) {
  const milliseconds limit = std::max(milliseconds(1), base.retry.deadline.value_or(wait));
  base.retry.deadline = limit;
  base.connect_timeout = std::min(base.connect_timeout, limit);
  base.stall_time =
      std::max(std::chrono::seconds(1), std::chrono::ceil<std::chrono::seconds>(limit));
  return base;
}

boost::asio::awaitable<Response> call(Request request, CallPolicy call_policy,
                                      CallOptions options) {
  apply_limits(request, call_policy, options.kind);
  const RetryPolicy& policy = call_policy.retry;
  const int attempts = std::max(1, policy.max_attempts);
  const std::optional<milliseconds> allowed = policy.deadline || options.kind != CallKind::kModel
                                                  ? policy.deadline
                                                  : call_policy.model_deadline;
  const std::optional<Clock::time_point> deadline =
      allowed ? std::optional(Clock::now() + *allowed) : std::nullopt;
  const auto remaining = [&] { return std::chrono::ceil<milliseconds>(*deadline - Clock::now()); };

  if (attempts > 1 && !request.body.empty()) {
    // Bodies can be large (whole images): every attempt sends the same one, not a copy.
    request.shared_body = std::make_shared<const std::string>(std::move(request.body));
    request.body.clear();
  }
  int timeouts = 0;
  for (int attempt = 1;; ++attempt) {
    Request sent = attempt == attempts ? std::move(request) : request;
    if (deadline) {
      // A download's body is not bound by the deadline, only the wait for its answer.
      auto& limit = options.kind == CallKind::kDownload ? sent.answer_timeout : sent.timeout;
      const milliseconds left = std::max(milliseconds(1), remaining());
      limit = limit ? std::min(*limit, left) : left;
    }
    std::string failure;
    std::optional<milliseconds> server_wait;
    std::exception_ptr error;
    std::optional<Response> answer;
    RatePermit permit;
    if (options.limiter) {
      RatePermit granted = co_await options.limiter->acquire();
      permit = std::move(granted);
    }
    try {
      Response response = co_await fetch(std::move(sent), options.session);
      response.attempts = attempt;
      if (options.limiter) options.limiter->observe(response);
      permit.release();
      if (!may_repeat(response, options.idempotency)) co_return std::move(response);
      failure = describe_status(response);
      server_wait = retry_after(response, std::chrono::system_clock::now());
      answer = std::move(response);
    } catch (Error& e) {
      e.set_attempts(attempt);
      if (!may_repeat(e, options.idempotency)) throw;
      if (e.kind() == Error::Kind::kTimeout) ++timeouts;
      failure = e.what();
      error = std::current_exception();
    }
    permit.release();

    const milliseconds delay = server_wait ? std::min(*server_wait, policy.max_retry_after)
                                           : jittered_backoff(policy, attempt);
    const bool out_of_time = deadline && remaining() < delay + kMinAttemptTime;
    if (attempt >= attempts || out_of_time || timeouts > 1) {
      if (error) std::rethrow_exception(error);
      co_return std::move(*answer);
    }
    if (options.on_retry)
      options.on_retry({attempt, attempts, delay, failure, answer ? &*answer : nullptr});
    if (delay.count() > 0) {
      const auto executor = co_await boost::asio::this_coro::executor;
      boost::asio::steady_timer timer(executor, delay);
      co_await timer.async_wait(boost::asio::use_awaitable);
    }
  }
}

}  // namespace clients::http
