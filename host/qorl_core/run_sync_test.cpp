#include "qorl_core/run_sync.hpp"

#include <gtest/gtest.h>

#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <type_traits>

namespace {

boost::asio::awaitable<int> forty_two() { co_return 42; }

TEST(RunSyncTest, RunsOnAFreshLoopOutsideAnyLoop) {
  EXPECT_EQ(qorl_core::run_sync(forty_two()), 42);
}

// Whether run_sync refuses to run when called from a handler run by `context`.
template <typename Context>
bool refused_inside(Context& context) {
  bool refused = false;
  boost::asio::post(context, [&] {
    try {
      qorl_core::run_sync(forty_two());
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  if constexpr (std::is_same_v<Context, boost::asio::io_context>) {
    context.run();
  } else {
    context.join();
  }
  return refused;
}

// A nested loop would stall the outer one until it ends: the guard makes that loud.
TEST(RunSyncTest, RefusesToNestALoopInsideARunningLoop) {
  boost::asio::io_context loop;
  EXPECT_TRUE(refused_inside(loop));
  boost::asio::thread_pool pool(1);
  EXPECT_TRUE(refused_inside(pool));
}

}  // namespace
