// How long-running operations (a Speech recognition, a Prosa job) are polled, after
// google-cloud-cpp's polling policies: the first poll at once, then delays that grow by a factor
// up to a cap, within an overall deadline. The policy is a value, so tests set short delays.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <optional>

namespace clients::common {

struct PollingPolicy {
  std::chrono::milliseconds initial_delay{1000};
  std::chrono::milliseconds maximum_delay{20000};
  double multiplier = 1.5;  // 1: a fixed interval
};

// The waits of one operation, from its construction: the first wait() returns at once, each
// later one sleeps the current delay (cut to the deadline) and then grows it.
class Poller {
 public:
  using Clock = std::chrono::steady_clock;

  // `limit`: how long the whole wait may last; none for no deadline.
  Poller(PollingPolicy policy, std::optional<std::chrono::milliseconds> limit);

  [[nodiscard]] boost::asio::awaitable<void> wait();

  // The delay the next wait() sleeps: zero before the first poll.
  std::chrono::milliseconds next_delay() const noexcept {
    return first_ ? std::chrono::milliseconds(0) : delay_;
  }
  // What is left of the deadline, rounded up; none without one.
  std::optional<std::chrono::milliseconds> remaining() const;
  // The next wait ends by the deadline.
  bool next_wait_fits() const;

 private:
  PollingPolicy policy_;
  std::optional<Clock::time_point> deadline_;
  std::chrono::milliseconds delay_;
  bool first_ = true;
};

}  // namespace clients::common
