#include "clients/http/rate_limiter.hpp"

#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <cmath>

namespace clients::http {

struct RateLimiter::Waiter {
  boost::asio::steady_timer* timer;
  bool woken = false;
};

RatePermit& RatePermit::operator=(RatePermit&& other) noexcept {
  if (this != &other) {
    release();
    limiter_ = std::exchange(other.limiter_, nullptr);
  }
  return *this;
}

void RatePermit::release() noexcept {
  if (auto* limiter = std::exchange(limiter_, nullptr)) limiter->release_one();
}

RateLimiter::RateLimiter(RateLimiterOptions options)
    : options_(std::move(options)),
      window_(static_cast<double>(std::max<std::size_t>(options_.max_concurrency, 1))) {
  options_.min_concurrency = std::clamp<std::size_t>(
      options_.min_concurrency, 1, std::max<std::size_t>(options_.max_concurrency, 1));
  if (options_.requests_per_minute && *options_.requests_per_minute > 0) {
    interval_ = std::chrono::ceil<Clock::duration>(
        std::chrono::duration<double>(60.0 / *options_.requests_per_minute));
    cap_ = static_cast<std::size_t>(std::max(1.0, std::floor(*options_.requests_per_minute)));
  }
}

RateLimiter::~RateLimiter() = default;

std::optional<RateLimiter::Clock::time_point> RateLimiter::next_start(Clock::time_point now) const {
  if (static_cast<double>(in_flight_) + 1 > std::max(1.0, std::floor(window_))) return std::nullopt;
  const auto window_start =
      cap_ > 0 && starts_.size() >= cap_ ? starts_.front() + std::chrono::minutes(1) : now;
  return std::max({now, next_slot_, paused_until_, window_start});
}

void RateLimiter::wake_head() {
  std::lock_guard lock(mutex_);
  if (waiters_.empty()) return;
  Waiter* head = waiters_.front();
  head->woken = true;
  head->timer->cancel();
}

boost::asio::awaitable<RatePermit> RateLimiter::acquire() {
  const auto executor = co_await boost::asio::this_coro::executor;
  boost::asio::steady_timer timer(executor);
  Waiter self{&timer};
  {
    std::lock_guard lock(mutex_);
    if (exhausted_) std::rethrow_exception(exhausted_);
    waiters_.push_back(&self);
  }
  // However the wait ends, this waiter leaves the queue and the next one looks again.
  struct Leave {
    RateLimiter* limiter;
    Waiter* waiter;
    ~Leave() {
      {
        std::lock_guard lock(limiter->mutex_);
        limiter->waiters_.remove(waiter);
      }
      limiter->wake_head();
    }
  } leave{this, &self};

  std::optional<Clock::time_point> scheduled;  // the start this waiter last waited for
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (exhausted_) std::rethrow_exception(exhausted_);
      std::optional<Clock::time_point> start;
      if (waiters_.front() == &self) {
        const auto now = Clock::now();
        start = next_start(now);
        if (start && *start <= now) {
          ++in_flight_;
          ++granted_;
          // A start that came late keeps to the schedule it waited for; one that came at once
          // (nothing to wait for) starts it afresh.
          const auto base = scheduled ? std::max(*scheduled, now - interval_ / 2) : now;
          next_slot_ = base + interval_;
          if (cap_ > 0) {
            starts_.push_back(now);
            if (starts_.size() > cap_) starts_.pop_front();
          }
          break;
        }
      }
      self.woken = false;
      scheduled = start;
      timer.expires_at(start.value_or(Clock::time_point::max()));
    }
    boost::system::error_code ec;
    co_await timer.async_wait(boost::asio::redirect_error(boost::asio::use_awaitable, ec));
    if (ec == boost::asio::error::operation_aborted && !self.woken) {
      throw boost::system::system_error(ec);
    }
  }
  co_return RatePermit(this);
}

void RateLimiter::release_one() noexcept {
  {
    std::lock_guard lock(mutex_);
    if (in_flight_ > 0) --in_flight_;
  }
  wake_head();
}

RateSignal RateLimiter::observe(const Response& response) {
  RateSignal signal = read_rate_signal(response, std::chrono::system_clock::now());
  {
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    if (signal.wait) {
      paused_until_ = std::max(paused_until_, now + std::min(*signal.wait, options_.max_pause));
    }
    if (signal.throttled) {
      ++throttled_;
      if (now - last_decrease_ >= options_.decrease_interval) {
        window_ = std::max(static_cast<double>(options_.min_concurrency),
                           window_ * options_.decrease_factor);
        last_decrease_ = now;
      }
    } else if (response.ok()) {
      window_ = std::min(static_cast<double>(std::max<std::size_t>(options_.max_concurrency, 1)),
                         window_ + 1.0 / window_);
    }
  }
  wake_head();
  return signal;
}

void RateLimiter::exhaust(std::exception_ptr error) {
  std::lock_guard lock(mutex_);
  exhausted_ = std::move(error);
  for (Waiter* waiter : waiters_) {
    waiter->woken = true;
    waiter->timer->cancel();
  }
}

bool RateLimiter::exhausted() const {
  std::lock_guard lock(mutex_);
  return exhausted_ != nullptr;
}

RateLimiterStats RateLimiter::stats() const {
  std::lock_guard lock(mutex_);
  return {granted_, throttled_, window_, in_flight_, interval_};
}

RateLimiter& RateLimiterRegistry::limiter(const std::string& service, const std::string& api_key,
                                          const std::string& model) {
  std::lock_guard lock(mutex_);
  auto& slot = limiters_[{service, std::hash<std::string>{}(api_key), model}];
  if (!slot) slot = std::make_unique<RateLimiter>(options_);
  return *slot;
}

namespace {

std::mutex default_registry_mutex;
std::shared_ptr<RateLimiterRegistry>& default_registry() {
  static std::shared_ptr<RateLimiterRegistry> registry;
  return registry;
}

}  // namespace

std::shared_ptr<RateLimiterRegistry> default_rate_limits() {
  std::lock_guard lock(default_registry_mutex);
  return default_registry();
}

void set_default_rate_limits(std::shared_ptr<RateLimiterRegistry> registry) {
  std::lock_guard lock(default_registry_mutex);
  default_registry() = std::move(registry);
}

}  // namespace clients::http
