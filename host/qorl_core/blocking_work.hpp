// Where a component's CPU-heavy steps run (decoding, encoding, resampling, large base64 and
// JSON): inline on the calling thread by default, so no worker threads appear unasked, or on an
// executor given for blocking work, after which the step resumes on the caller's executor.
// A program may set one executor for every component given none (the command and the Python
// module set a pool sized to the cores).
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace qorl_core {

// The executor of blocking work for components that were given none; none: inline. Safe to
// call from any thread.
void set_default_blocking_executor(std::optional<boost::asio::any_io_executor> executor);
std::optional<boost::asio::any_io_executor> default_blocking_executor();

// `work()`'s result, computed on `executor` when there is one, else inline; its exceptions
// propagate and the caller resumes on its own executor. The work cannot be interrupted, so the
// caller's cancellation is not passed on: Boost 1.81's co_spawn would deliver it on a pool thread
// while the work runs, and then throw it out of the pool's thread, ending the process.
template <typename Work>
boost::asio::awaitable<std::invoke_result_t<Work&>> run_blocking(
    std::optional<boost::asio::any_io_executor> executor, Work work) {
  using Result = std::invoke_result_t<Work&>;
  if (!executor) co_return work();
  co_return co_await boost::asio::co_spawn(
      *executor,
      [work = std::move(work)]() mutable -> boost::asio::awaitable<Result> { co_return work(); },
      boost::asio::bind_cancellation_slot(boost::asio::cancellation_slot(),
                                          boost::asio::use_awaitable));
}

// `work()`'s result, on the default executor for blocking work.
template <typename Work>
boost::asio::awaitable<std::invoke_result_t<Work&>> run_blocking(Work work) {
  return run_blocking(default_blocking_executor(), std::move(work));
}

// One thread of the default blocking pool, held idle while a child program does CPU work for the
// process (ffmpeg decoding), so that such work counts against the same threads as work run on
// the pool: a process given N threads (a Dask worker's) keeps to N cores. Released when
// destroyed; holds nothing when there is no pool.
class BlockingThreadHold {
 public:
  // Waits, without blocking the caller's loop, until a thread of the pool is free, and holds it.
  [[nodiscard]] static boost::asio::awaitable<BlockingThreadHold> take();

  BlockingThreadHold() = default;
  BlockingThreadHold(BlockingThreadHold&&) noexcept = default;
  BlockingThreadHold& operator=(BlockingThreadHold&&) = delete;
  ~BlockingThreadHold();

 private:
  struct Held;
  explicit BlockingThreadHold(std::shared_ptr<Held> held) : held_(std::move(held)) {}
  std::shared_ptr<Held> held_;
};

// `operation` awaited while it holds a thread of the pool. It must not itself wait for the pool.
template <typename T>
boost::asio::awaitable<T> holding_a_blocking_thread(boost::asio::awaitable<T> operation) {
  const BlockingThreadHold hold = co_await BlockingThreadHold::take();
  co_return co_await std::move(operation);
}

class BlockingWork {
 public:
  // For example a boost::asio::thread_pool's executor; none: inline. Until it is called, the
  // component follows the default executor for blocking work.
  void set_blocking_executor(std::optional<boost::asio::any_io_executor> executor) {
    follows_default_ = false;
    blocking_executor_ = std::move(executor);
  }
  // Where this component's blocking work runs; none: inline.
  std::optional<boost::asio::any_io_executor> blocking_executor() const {
    return follows_default_ ? default_blocking_executor() : blocking_executor_;
  }

 protected:
  template <typename Work>
  boost::asio::awaitable<std::invoke_result_t<Work&>> _run_blocking(Work work) const {
    return run_blocking(blocking_executor(), std::move(work));
  }

 private:
  bool follows_default_ = true;
  std::optional<boost::asio::any_io_executor> blocking_executor_;
};

}  // namespace qorl_core
