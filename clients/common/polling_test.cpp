#include "clients/common/polling.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "clients/common/run_sync.hpp"

namespace clients::common {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

TEST(PollerTest, FirstPollAtOnceThenGrowingDelaysUpToTheCap) {
  Poller poller({10ms, 25ms, 2.0}, std::nullopt);
  std::vector<milliseconds> delays;
  run_sync([&]() -> boost::asio::awaitable<void> {
    for (int poll = 0; poll < 5; ++poll) {
      delays.push_back(poller.next_delay());
      co_await poller.wait();
    }
  }());
  EXPECT_EQ(delays, (std::vector<milliseconds>{0ms, 10ms, 20ms, 25ms, 25ms}));
  EXPECT_EQ(poller.remaining(), std::nullopt);
  EXPECT_TRUE(poller.next_wait_fits());
}

TEST(PollerTest, TheDeadlineCutsAWaitShortAndRefusesOneThatWouldPassIt) {
  Poller poller({1h, 1h, 1.0}, 30ms);
  run_sync([&]() -> boost::asio::awaitable<void> {
    co_await poller.wait();
    EXPECT_TRUE(poller.remaining()->count() > 0);
    EXPECT_FALSE(poller.next_wait_fits());
    co_await poller.wait();  // an hour's delay, cut to what is left
  }());
  EXPECT_LE(poller.remaining()->count(), 0);
}

}  // namespace
}  // namespace clients::common
