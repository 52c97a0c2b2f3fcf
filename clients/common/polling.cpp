#include "clients/common/polling.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace clients::common {

using std::chrono::milliseconds;

Poller::Poller(PollingPolicy policy, std::optional<milliseconds> limit)
    : policy_(policy), delay_(policy.initial_delay) {
  if (limit) deadline_ = Clock::now() + *limit;
}

std::optional<milliseconds> Poller::remaining() const {
  if (!deadline_) return std::nullopt;
  return std::chrono::ceil<milliseconds>(*deadline_ - Clock::now());
}

bool Poller::next_wait_fits() const {
  return !deadline_ || Clock::now() + next_delay() <= *deadline_;
}

boost::asio::awaitable<void> Poller::wait() {
  if (std::exchange(first_, false)) co_return;
  Clock::duration sleep = delay_;
  if (deadline_) sleep = std::max(Clock::duration{}, std::min(sleep, *deadline_ - Clock::now()));
  delay_ = std::min(policy_.maximum_delay,
                    milliseconds(static_cast<std::int64_t>(static_cast<double>(delay_.count()) *
                                                           policy_.multiplier)));
  const auto executor = co_await boost::asio::this_coro::executor;
  boost::asio::steady_timer timer(executor, sleep);
  co_await timer.async_wait(boost::asio::use_awaitable);
}

}  // namespace clients::common
