#include "qorl_core/blocking_work.hpp"

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>

#include <chrono>
#include <exception>
#include <thread>

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

}  // namespace
