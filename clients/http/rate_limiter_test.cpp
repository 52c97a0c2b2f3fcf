#include "clients/http/rate_limiter.hpp"

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/system/system_error.hpp>

#include <vector>

#include "testing/fake_gemini_server.hpp"

namespace clients::http {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Response answer(long status, std::string body = "") {
  Response response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

// Starts `count` requests through `limiter` at once, each holding its permit for `hold`; returns
// when each was let through, in the order they were.
std::vector<Clock::time_point> start_times(RateLimiter& limiter, int count,
                                           std::chrono::milliseconds hold = 0ms) {
  asio::io_context loop;
  std::vector<Clock::time_point> starts;
  for (int i = 0; i < count; ++i) {
    asio::co_spawn(
        loop,
        [&]() -> asio::awaitable<void> {
          RatePermit permit = co_await limiter.acquire();
          starts.push_back(Clock::now());
          asio::steady_timer timer(co_await asio::this_coro::executor, hold);
          co_await timer.async_wait(asio::use_awaitable);
        },
        asio::detached);
  }
  loop.run();
  return starts;
}

TEST(RateLimiter, SpacesRequestsEvenlyUnderItsCap) {
  RateLimiter limiter({.requests_per_minute = 1200});  // one every 50 ms
  const auto starts = start_times(limiter, 6);
  ASSERT_EQ(starts.size(), 6u);
  // Timers never fire early: the n-th request starts no earlier than n intervals after the
  // first, and one that started late makes up half an interval at most.
  for (std::size_t i = 1; i < starts.size(); ++i) {
    EXPECT_GE(starts[i] - starts[0], 50ms * static_cast<int>(i));
    EXPECT_GE(starts[i] - starts[i - 1], 25ms);
  }
  EXPECT_EQ(limiter.stats().granted, 6);
  EXPECT_EQ(limiter.stats().in_flight, 0u);
  EXPECT_EQ(limiter.stats().interval, 50ms);
}

TEST(RateLimiter, A429WithARetryDelayPausesEveryCallerAndHalvesTheWindow) {
  RateLimiter limiter({.max_concurrency = 8});
  const auto observed = Clock::now();
  const auto signal =
      limiter.observe(answer(429, qorl_testing::FakeGeminiServer::rate_limited_body("0.2s")));
  EXPECT_EQ(signal.wait, 200ms);
  EXPECT_EQ(limiter.stats().window, 4);
  EXPECT_EQ(limiter.stats().throttled, 1);
  // More 429s of the same burst do not shrink it again.
  limiter.observe(answer(429));
  EXPECT_EQ(limiter.stats().window, 4);
  const auto starts = start_times(limiter, 3);
  ASSERT_EQ(starts.size(), 3u);
  for (const auto start : starts) EXPECT_GE(start - observed, 200ms);
}

TEST(RateLimiter, ConcurrencyStaysWithinTheWindowAndGrowsBackWithSuccesses) {
  RateLimiter limiter({.max_concurrency = 4, .decrease_interval = 0ms});
  limiter.observe(answer(429));
  limiter.observe(answer(429));
  ASSERT_EQ(limiter.stats().window, 1);
  std::size_t most_in_flight = 0;
  asio::io_context loop;
  for (int i = 0; i < 4; ++i) {
    asio::co_spawn(
        loop,
        [&]() -> asio::awaitable<void> {
          RatePermit permit = co_await limiter.acquire();
          most_in_flight = std::max(most_in_flight, limiter.stats().in_flight);
          asio::steady_timer timer(co_await asio::this_coro::executor, 5ms);
          co_await timer.async_wait(asio::use_awaitable);
        },
        asio::detached);
  }
  loop.run();
  EXPECT_EQ(most_in_flight, 1u);
  // Additive increase: one more place per window of successes, up to the maximum.
  limiter.observe(answer(200));
  EXPECT_EQ(limiter.stats().window, 2);
  for (int i = 0; i < 100; ++i) limiter.observe(answer(200));
  EXPECT_EQ(limiter.stats().window, 4);
}

TEST(RateLimiter, AnExhaustedQuotaRefusesWaitingAndLaterRequestsWithItsError) {
  RateLimiter limiter({.max_concurrency = 1});
  asio::io_context loop;
  std::vector<std::string> refusals;
  RatePermit held;
  asio::co_spawn(
      loop,
      [&]() -> asio::awaitable<void> {
        held = co_await limiter.acquire();
        // Queued behind the held permit, then refused when the quota runs out.
        try {
          co_await limiter.acquire();
        } catch (const std::runtime_error& error) {
          refusals.push_back(error.what());
        }
      },
      asio::detached);
  asio::co_spawn(
      loop,
      [&]() -> asio::awaitable<void> {
        limiter.exhaust(std::make_exception_ptr(std::runtime_error("daily quota")));
        co_return;
      },
      asio::detached);
  loop.run();
  EXPECT_EQ(refusals, std::vector<std::string>{"daily quota"});
  EXPECT_TRUE(limiter.exhausted());
  held.release();
  asio::io_context later;
  auto refused = asio::co_spawn(later, limiter.acquire(), asio::use_future);
  later.run();
  EXPECT_THROW(refused.get(), std::runtime_error);
}

TEST(RateLimiter, ACancelledWaitLeavesTheQueueToTheNext) {
  RateLimiter limiter({.max_concurrency = 1});
  asio::io_context loop;
  asio::cancellation_signal cancel;
  bool cancelled = false;
  bool next_went = false;
  RatePermit held;
  asio::co_spawn(
      loop,
      [&]() -> asio::awaitable<void> {
        held = co_await limiter.acquire();
        co_return;
      },
      asio::detached);
  loop.run();
  loop.restart();
  asio::co_spawn(
      loop, limiter.acquire(),
      asio::bind_cancellation_slot(cancel.slot(), [&](std::exception_ptr error, RatePermit) {
        cancelled = error != nullptr;
      }));
  asio::co_spawn(
      loop,
      [&]() -> asio::awaitable<void> {
        RatePermit permit = co_await limiter.acquire();
        next_went = true;
      },
      asio::detached);
  loop.poll();
  cancel.emit(asio::cancellation_type::terminal);
  loop.poll();
  EXPECT_TRUE(cancelled);
  EXPECT_FALSE(next_went);
  held.release();
  loop.run();
  EXPECT_TRUE(next_went);
  EXPECT_EQ(limiter.stats().in_flight, 0u);
}

}  // namespace
}  // namespace clients::http
