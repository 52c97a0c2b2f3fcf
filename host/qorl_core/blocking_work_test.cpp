#include "qorl_core/blocking_work.hpp"

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;

// A caller cancelled while its work runs on the pool gets the work's result; the pool's thread
// must not see the cancellation (it used to end the process).
TEST(BlockingWorkTest, CancellingTheCallerLetsTheWorkFinish) {
  asio::io_context loop;
  asio::thread_pool pool(2);  // a free thread to take the cancellation
  asio::cancellation_signal cancel;
  int result = 0;
  std::exception_ptr failure;
  auto slow = []() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 7;
  };
  asio::co_spawn(loop, qorl_core::run_blocking(pool.get_executor(), slow),
                 asio::bind_cancellation_slot(cancel.slot(), [&](std::exception_ptr e, int value) {
                   failure = e;
                   result = value;
                 }));
  asio::steady_timer soon(loop, std::chrono::milliseconds(20));
  soon.async_wait([&](auto) { cancel.emit(asio::cancellation_type::terminal); });
  loop.run();
  pool.join();
  EXPECT_FALSE(failure);
  EXPECT_EQ(result, 7);
}

// A held thread is the pool's: work waits for its release, and a hold whose taker was cancelled
// before the pool reached it frees the thread at once instead of keeping it forever.
TEST(BlockingWorkTest, AHeldThreadCountsAgainstThePool) {
  asio::io_context loop;
  asio::thread_pool pool(1);
  qorl_core::set_default_blocking_executor(pool.get_executor());
  std::vector<std::string> order;
  auto holder = [&]() -> asio::awaitable<void> {
    const qorl_core::BlockingThreadHold hold = co_await qorl_core::BlockingThreadHold::take();
    order.push_back("held");
    asio::steady_timer child(loop, std::chrono::milliseconds(50));
    co_await child.async_wait(asio::use_awaitable);
    order.push_back("released");
  };
  asio::cancellation_signal cancel;
  bool late_taker_cancelled = false;
  auto late_taker = [&]() -> asio::awaitable<void> {
    const qorl_core::BlockingThreadHold hold = co_await qorl_core::BlockingThreadHold::take();
    order.push_back("late taker held");
  };
  auto worker = [&]() -> asio::awaitable<void> {
    co_await qorl_core::run_blocking([] {});
    order.push_back("work");
  };
  asio::co_spawn(loop, holder(), asio::detached);
  asio::co_spawn(loop, late_taker(),
                 asio::bind_cancellation_slot(cancel.slot(), [&](std::exception_ptr e) {
                   late_taker_cancelled = e != nullptr;
                 }));
  asio::co_spawn(loop, worker(), asio::detached);
  asio::steady_timer soon(loop, std::chrono::milliseconds(20));
  soon.async_wait([&](auto) { cancel.emit(asio::cancellation_type::terminal); });
  loop.run();
  qorl_core::set_default_blocking_executor(std::nullopt);
  pool.join();
  EXPECT_TRUE(late_taker_cancelled);
  EXPECT_EQ(order, (std::vector<std::string>{"held", "released", "work"}));
}

}  // namespace
