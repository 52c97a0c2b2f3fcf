// Runs an asynchronous operation to completion on a fresh event loop of the calling thread: the
// one synchronous entry of every layer.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detail/thread_context.hpp>
#include <boost/asio/io_context.hpp>

#include <exception>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace clients::common {

// Whether the calling thread is running an asio event loop or thread pool: a loop started
// there would stall every other operation of the outer one until it ends.
inline bool in_event_loop_thread() noexcept {
  // Asio's own record of the scheduler running on this thread; it has no public equivalent.
  return boost::asio::detail::thread_context::top_of_thread_call_stack() != nullptr;
}

// Synchronous callers only. Throws std::logic_error when called from a thread that runs an
// event loop: that is a nested loop, and awaitables must await the asynchronous twin instead.
template <typename T>
T run_sync(boost::asio::awaitable<T> operation) {
  if (in_event_loop_thread()) {
    throw std::logic_error("run_sync called on a thread that is running an event loop");
  }
  boost::asio::io_context loop;
  std::exception_ptr error;
  if constexpr (std::is_void_v<T>) {
    boost::asio::co_spawn(loop, std::move(operation), [&](std::exception_ptr e) { error = e; });
    loop.run();
    if (error) std::rethrow_exception(error);
  } else {
    std::optional<T> result;
    boost::asio::co_spawn(loop, std::move(operation), [&](std::exception_ptr e, T value) {
      error = e;
      if (!e) result.emplace(std::move(value));
    });
    loop.run();
    if (error) std::rethrow_exception(error);
    return std::move(*result);
  }
}

}  // namespace clients::common
