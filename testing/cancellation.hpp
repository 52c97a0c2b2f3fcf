// Cancelling an operation mid-way, as a caller with a cancellation signal does.
#pragma once

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/system/system_error.hpp>

#include <chrono>
#include <functional>

namespace qorl_testing {

// Runs `operation` on a loop of its own and emits a terminal cancellation as soon as `ready()`
// holds (polled every few milliseconds). True when the operation then ended with
// operation_aborted; false when it ended any other way.
template <typename T>
bool ends_cancelled(boost::asio::awaitable<T> operation, std::function<bool()> ready) {
  namespace asio = boost::asio;
  asio::io_context io;
  asio::cancellation_signal cancel;
  auto future = asio::co_spawn(io, std::move(operation),
                               asio::bind_cancellation_slot(cancel.slot(), asio::use_future));
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        asio::steady_timer timer(io);
        while (!ready()) {
          timer.expires_after(std::chrono::milliseconds(5));
          co_await timer.async_wait(asio::use_awaitable);
        }
        cancel.emit(asio::cancellation_type::terminal);
      },
      asio::detached);
  io.run();
  try {
    future.get();
  } catch (const boost::system::system_error& e) {
    return e.code() == asio::error::operation_aborted;
  } catch (...) {
  }
  return false;
}

}  // namespace qorl_testing
