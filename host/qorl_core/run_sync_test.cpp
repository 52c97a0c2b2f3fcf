#include "qorl_core/run_sync.hpp"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

namespace {

boost::asio::awaitable<int> forty_two() { co_return 42; }

TEST(RunSyncTest, RunsOnAFreshLoopOutsideAnyLoop) {
  EXPECT_EQ(qorl_core::run_sync(forty_two()), 42);
}

// A nested loop would stall the outer one until it ends: the guard makes that loud.
TEST(RunSyncTest, RefusesToNestALoopInsideARunningLoop) {
  boost::asio::io_context loop;
  bool refused = false;
  boost::asio::post(loop, [&] {
    try {
      qorl_core::run_sync(forty_two());
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  loop.run();
  EXPECT_TRUE(refused);

  boost::asio::thread_pool pool(1);
  bool refused_on_pool = false;
  boost::asio::post(pool, [&] {
    try {
      qorl_core::run_sync(forty_two());
    } catch (const std::logic_error&) {
      refused_on_pool = true;
    }
  });
  pool.join();
  EXPECT_TRUE(refused_on_pool);
}

}  // namespace
