// Runs an asynchronous operation to completion on a fresh event loop of the calling thread.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>

#include <exception>
#include <optional>
#include <type_traits>

namespace qorl_core {

template <typename T>
T run_sync(boost::asio::awaitable<T> operation) {
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

}  // namespace qorl_core
