// Pacing shared by every request of a run to one service, key and model, in front of the retry
// policy of each call:
//   - an optional cap of requests per minute: requests spaced evenly on a schedule that a late
//     start does not push back (so a busy loop still reaches the cap) nor turns into a burst (a
//     late start makes up half an interval at most), and a log of the last starts so that no
//     60-second window ever holds more than the cap;
//   - a concurrency window that halves after a 429 and grows back by one request per window of
//     answers (additive increase, multiplicative decrease);
//   - a pause for every caller when a service asks for one (Retry-After, a Gemini retryDelay, an
//     OpenAI request budget spent until its reset);
//   - once a quota is exhausted (a per-day quota, insufficient_quota), every later request is
//     refused at once with the error the first one raised.
// Waiting is on asio timers: nothing blocks the loop. Requests are let through in the order they
// asked. A limiter belongs to one event loop (or one strand).
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "clients/http/http.hpp"
#include "clients/http/rate_signals.hpp"

namespace clients::http {

struct RateLimiterOptions {
  // Requests per minute at most; none: no cap of the caller's own.
  std::optional<double> requests_per_minute{};
  // The concurrency window: where it starts and how far it may grow back.
  std::size_t max_concurrency = 256;
  // How far a run of 429s may shrink it.
  std::size_t min_concurrency = 1;
  // The window is multiplied by this after a 429, once per `decrease_interval` at most: the 429s
  // of one burst count once.
  double decrease_factor = 0.5;
  std::chrono::milliseconds decrease_interval{1000};
  // The longest pause a service may order (a longer one is a quota problem, not a rate).
  std::chrono::milliseconds max_pause{std::chrono::minutes(5)};
};

class RateLimiter;

// A request let through: it holds one place of the concurrency window until it is released or
// destroyed.
class RatePermit {
 public:
  RatePermit() = default;
  explicit RatePermit(RateLimiter* limiter) : limiter_(limiter) {}
  RatePermit(RatePermit&& other) noexcept : limiter_(std::exchange(other.limiter_, nullptr)) {}
  RatePermit& operator=(RatePermit&& other) noexcept;
  ~RatePermit() { release(); }

  void release() noexcept;

 private:
  RateLimiter* limiter_ = nullptr;
};

// What the limiter has done so far, for tests and benchmarks.
struct RateLimiterStats {
  std::int64_t granted = 0;
  std::int64_t throttled = 0;  // answers 429
  double window = 0;           // the concurrency window now
  std::size_t in_flight = 0;
  std::chrono::steady_clock::duration interval{};  // between request starts now
};

class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RateLimiter(RateLimiterOptions options = {});
  ~RateLimiter();
  RateLimiter(const RateLimiter&) = delete;
  RateLimiter& operator=(const RateLimiter&) = delete;

  // Waits until a request may go out and returns its permit. Rethrows the quota error once a
  // quota is exhausted. Cancellation ends the wait.
  [[nodiscard]] boost::asio::awaitable<RatePermit> acquire();

  // What an answer says: 429s shrink the window, a requested wait pauses every caller, a success
  // grows the window back. Returns the signal read.
  RateSignal observe(const Response& response);

  // From now on acquire() throws `error` at once.
  void exhaust(std::exception_ptr error);
  bool exhausted() const;

  RateLimiterStats stats() const;
  const RateLimiterOptions& options() const noexcept { return options_; }

 private:
  friend class RatePermit;
  struct Waiter;

  void release_one() noexcept;
  // Wakes the first waiter so that it looks again at the state.
  void wake_head();
  // When the head waiter may go, or none when it waits for a place in the window.
  std::optional<Clock::time_point> next_start(Clock::time_point now) const;

  RateLimiterOptions options_;
  Clock::duration interval_{};
  std::size_t cap_ = 0;                   // requests in any 60 s; 0: no cap
  std::deque<Clock::time_point> starts_;  // the last `cap_` starts
  mutable std::mutex mutex_;
  std::list<Waiter*> waiters_;
  std::size_t in_flight_ = 0;
  double window_;
  Clock::time_point next_slot_{};
  Clock::time_point paused_until_{};
  Clock::time_point last_decrease_{};
  std::exception_ptr exhausted_;
  std::int64_t granted_ = 0;
  std::int64_t throttled_ = 0;
};

// The limiters of a run, one per service, key and model, made on first use with the same options.
// The key itself is not kept, only a digest of it.
class RateLimiterRegistry {
 public:
  explicit RateLimiterRegistry(RateLimiterOptions options = {}) : options_(std::move(options)) {}

  // The limiter of `service` ("Gemini") used with `api_key` for `model`; it lives as long as the
  // registry.
  RateLimiter& limiter(const std::string& service, const std::string& api_key,
                       const std::string& model);

 private:
  RateLimiterOptions options_;
  std::mutex mutex_;
  std::map<std::tuple<std::string, std::size_t, std::string>, std::unique_ptr<RateLimiter>>
      limiters_;
};

// The registry of clients that are given none: none unless the program sets one (the command
// does, for a run), so calls are paced only when asked. Safe from several threads.
std::shared_ptr<RateLimiterRegistry> default_rate_limits();
void set_default_rate_limits(std::shared_ptr<RateLimiterRegistry> registry);

}  // namespace clients::http
