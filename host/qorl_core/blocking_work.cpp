#include "qorl_core/blocking_work.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>

#include <condition_variable>
#include <mutex>

namespace qorl_core {
namespace {

std::mutex default_executor_mutex;
std::optional<boost::asio::any_io_executor>& default_executor() {
  static std::optional<boost::asio::any_io_executor> executor;
  return executor;
}

}  // namespace

void set_default_blocking_executor(std::optional<boost::asio::any_io_executor> executor) {
  std::lock_guard lock(default_executor_mutex);
  default_executor() = std::move(executor);
}

std::optional<boost::asio::any_io_executor> default_blocking_executor() {
  std::lock_guard lock(default_executor_mutex);
  return default_executor();
}

struct BlockingThreadHold::Held {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;

  void release() {
    {
      std::lock_guard lock(mutex);
      released = true;
    }
    changed.notify_one();
  }
  void wait_for_release() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return released; });
  }
};

boost::asio::awaitable<BlockingThreadHold> BlockingThreadHold::take() {
  const std::optional<boost::asio::any_io_executor> pool = default_blocking_executor();
  if (!pool) co_return BlockingThreadHold();
  const boost::asio::any_io_executor loop = co_await boost::asio::this_coro::executor;
  // Held from here, so a caller cancelled before the pool takes it still frees the thread.
  BlockingThreadHold hold(std::make_shared<Held>());
  // The pool's thread wakes the caller by expiring this timer on the caller's loop (a wait begun
  // after that ends at once); weakly, as the caller may be gone by then.
  auto taken = std::make_shared<boost::asio::steady_timer>(
      loop, boost::asio::steady_timer::time_point::max());
  boost::asio::post(*pool, [held = hold.held_, loop, taken = std::weak_ptr(taken)] {
    boost::asio::post(loop, [taken] {
      if (const auto timer = taken.lock())
        timer->expires_at(boost::asio::steady_timer::time_point::min());
    });
    held->wait_for_release();
  });
  boost::system::error_code woken;  // aborted: by the pool's thread, or the caller's cancellation
  co_await taken->async_wait(boost::asio::redirect_error(boost::asio::use_awaitable, woken));
  const boost::asio::cancellation_state state = co_await boost::asio::this_coro::cancellation_state;
  if (state.cancelled() != boost::asio::cancellation_type::none) {
    throw boost::system::system_error(boost::asio::error::operation_aborted);
  }
  co_return hold;
}

BlockingThreadHold::~BlockingThreadHold() {
  if (held_) held_->release();
}

}  // namespace qorl_core
