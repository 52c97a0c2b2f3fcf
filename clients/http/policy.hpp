// The one resilience policy of every service call: which failures are tried again, how long to
// wait between attempts, when to give up, and the limits of each attempt.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "clients/http/http.hpp"

namespace clients::http {

class RateLimiter;

inline constexpr std::chrono::seconds DEFAULT_STALL_TIME{60};
inline constexpr std::chrono::seconds DEFAULT_ATTEMPT_TIMEOUT{600};
inline constexpr std::chrono::minutes DEFAULT_MODEL_DEADLINE{15};
inline constexpr std::uint64_t DEFAULT_MAX_DOWNLOAD_BYTES = std::uint64_t{2} << 30;

struct RetryPolicy {
  // Attempts in all, the first included.
  int max_attempts = 4;
  // Exponential back-off with full jitter: the n-th wait is drawn from
  // [0, min(max_backoff, initial_backoff * 2^(n-1))].
  std::chrono::milliseconds initial_backoff{500};
  std::chrono::milliseconds max_backoff{30000};
  // A server's Retry-After is honoured up to this long.
  std::chrono::milliseconds max_retry_after{60000};
  // For the whole call, attempts and waits together; none: the attempts' own limits only.
  // A download's deadline ends when its answer starts to arrive: the body then flows as long
  // as it does not stall. No attempt is started that this leaves too little time for.
  std::optional<std::chrono::milliseconds> deadline;

  // As many attempts, no waits at all: for tests and callers that pace themselves.
  static RetryPolicy without_delays(int max_attempts = 4) {
    return {max_attempts, std::chrono::milliseconds(0), std::chrono::milliseconds(0),
            std::chrono::milliseconds(0), std::nullopt};
  }
};

// Whether repeating a call can do harm. A non-idempotent call (starting an upload, creating an
// operation or a job) is repeated only when the server cannot have acted on it: no connection
// was made, or it answered 429.
enum class Idempotency { kIdempotent, kNonIdempotent };

// What a call transfers, which decides the limits that fit it.
enum class CallKind {
  kApi,       // a service's API answer: the stall guard and the answer cap
  kModel,     // a server that works before it answers (a model, a transcription): the attempt
              // time limit and the model deadline instead of the stall guard, and the answer cap
  kDownload,  // media: the stall guard and the download cap
};

struct CallPolicy {
  RetryPolicy retry{};
  std::chrono::milliseconds connect_timeout = DEFAULT_CONNECT_TIMEOUT;
  // Each attempt of a kModel call; none: no limit.
  std::optional<std::chrono::milliseconds> attempt_timeout = DEFAULT_ATTEMPT_TIMEOUT;
  // A whole kModel call, retries included, when the retry policy sets no deadline: a model
  // that never answers fails after its first attempt's limit and what remains for a second.
  std::optional<std::chrono::milliseconds> model_deadline = DEFAULT_MODEL_DEADLINE;
  // kApi and kDownload transfers fail after this long without a byte moving.
  std::chrono::seconds stall_time = DEFAULT_STALL_TIME;
  std::uint64_t max_answer_bytes = DEFAULT_MAX_BODY_BYTES;
  std::uint64_t max_download_bytes = DEFAULT_MAX_DOWNLOAD_BYTES;
};

// The policy of clients that are given none. The command sets it once at start-up; tests set
// one without delays. Safe to read from several threads.
CallPolicy default_call_policy();
void set_default_call_policy(CallPolicy policy);

// The policy of a media download whose caller allows `wait`: connecting, and waiting for the
// answer with the retries and their back-off, end within it, and so does any stall of the body;
// a body that keeps moving is never cut short. The deadline of `base` (the operator's limit),
// when it has one, stands in for `wait`.
CallPolicy download_policy(std::chrono::milliseconds wait, CallPolicy base = default_call_policy());

using clients::is_retryable_status;

// How long the response's Retry-After asks to wait, in its seconds or HTTP-date form; none
// when absent or unreadable.
std::optional<std::chrono::milliseconds> retry_after(const Response& response,
                                                     std::chrono::system_clock::time_point now);

// What a retry is about to do, for the caller's log; only told when the retry follows.
struct RetryNotice {
  int attempt;  // the attempt that failed, from 1
  int max_attempts;
  std::chrono::milliseconds delay;
  std::string failure;  // "HTTP 503 (Service Unavailable)" or the transfer error
  // The answer that failed; null when the transfer itself failed.
  const Response* response = nullptr;
};

struct CallOptions {
  CallKind kind = CallKind::kApi;
  Idempotency idempotency = Idempotency::kIdempotent;
  std::function<void(const RetryNotice&)> on_retry{};
  // None: a private session for each attempt.
  Session* session = nullptr;
  // None: attempts go out as the retry policy says. Else each attempt waits for the limiter's
  // permit and tells it what the service answered.
  RateLimiter* limiter = nullptr;
};

// Sends `request` with the policy's limits (a limit the request sets itself is kept) and again
// after transient failures and retryable statuses, as the policy allows; an attempt that timed
// out is tried again once at most. Returns the first answer not retried, whatever its status,
// or the last one once attempts or the deadline are spent; throws the last Error when the last
// attempt failed in transfer. A 429 that says a quota is exhausted for the day
// (read_rate_signal) is not tried again. Both tell the attempts made (Response::attempts,
// Error::attempts()). Each attempt's time limit is capped by what remains of the deadline.
// Cancellation ends it at once.
[[nodiscard]] boost::asio::awaitable<Response> call(Request request, CallPolicy policy,
                                                    CallOptions options = {});

}  // namespace clients::http
