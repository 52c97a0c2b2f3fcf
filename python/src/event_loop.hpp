// The library's own event loop, on a thread of its own, and the bridge between its coroutines
// and Python: an operation started from asyncio completes the caller's future through
// loop.call_soon_threadsafe; cancelling that future cancels the operation. The GIL is held
// only to convert arguments and results, never while the library works.
#pragma once

#include <pybind11/pybind11.h>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/use_future.hpp>

#include <exception>
#include <future>
#include <memory>
#include <type_traits>
#include <utility>

#include "python/src/values.hpp"

namespace qorl_python {

namespace asio = boost::asio;

// The loop's executor; the loop thread starts on first use and stops at interpreter exit.
asio::any_io_executor library_executor();
// Operations started and not yet completed (for tests and shutdown).
int operations_in_flight();
void bind_event_loop(py::module_& module);

namespace detail {

template <typename>
struct awaitable_result;
template <typename T>
struct awaitable_result<asio::awaitable<T>> {
  using type = T;
};

void operation_started();
void operation_finished();

// A Python object owned by C++ code on any thread; released under the GIL.
class PythonRef {
 public:
  explicit PythonRef(py::object object) : object_(std::move(object)) {}
  PythonRef(const PythonRef&) = delete;
  PythonRef& operator=(const PythonRef&) = delete;
  ~PythonRef();
  const py::object& get() const noexcept { return object_; }

 private:
  py::object object_;
};

// Hands the outcome to the asyncio loop that awaits it (GIL held).
void settle(const PythonRef& loop, const PythonRef& future, bool failed, py::object outcome);
// Emits a terminal cancellation on the library loop when `future` ends cancelled.
void cancel_when_cancelled(py::handle future, std::shared_ptr<asio::cancellation_signal> signal);

}  // namespace detail

// Starts `operation()` (a callable giving an awaitable, called on the library loop) and returns
// a coroutine object for asyncio that completes with `to_python(result)`. Arguments are
// converted by the caller, before this call, so kind errors are raised at once.
template <typename Operation, typename ToPython>
py::object start_operation(Operation operation, ToPython to_python) {
  using Result = typename detail::awaitable_result<std::invoke_result_t<Operation&>>::type;
  auto start = [operation = std::move(operation), to_python](py::object loop,
                                                             py::object future) mutable {
    auto loop_ref = std::make_shared<detail::PythonRef>(std::move(loop));
    auto future_ref = std::make_shared<detail::PythonRef>(future);
    auto signal = std::make_shared<asio::cancellation_signal>();
    detail::cancel_when_cancelled(future, signal);
    detail::operation_started();
    auto done = [loop_ref, future_ref, signal, to_python](std::exception_ptr error, Result result) {
      py::gil_scoped_acquire gil;
      try {
        if (error) {
          detail::settle(*loop_ref, *future_ref, true, to_python_exception(error));
        } else {
          detail::settle(*loop_ref, *future_ref, false, to_python(std::move(result)));
        }
      } catch (py::error_already_set& conversion_error) {
        detail::settle(*loop_ref, *future_ref, true, conversion_error.value());
      } catch (...) {
        detail::settle(*loop_ref, *future_ref, true, to_python_exception(std::current_exception()));
      }
      detail::operation_finished();
    };
    auto executor = library_executor();
    py::gil_scoped_release release;
    asio::co_spawn(executor, std::move(operation),
                   asio::bind_cancellation_slot(signal->slot(), std::move(done)));
  };
  return py::module_::import("qorl_multimodal._bridge")
      .attr("run_operation")(py::cpp_function(std::move(start)));
}

// Runs `operation()` on the library loop and waits for it with the GIL released.
template <typename Operation, typename ToPython>
py::object run_operation_sync(Operation operation, ToPython to_python) {
  using Result = typename detail::awaitable_result<std::invoke_result_t<Operation&>>::type;
  std::future<Result> pending;
  {
    py::gil_scoped_release release;
    pending = asio::co_spawn(library_executor(), std::move(operation), asio::use_future);
    pending.wait();
  }
  return to_python(pending.get());
}

}  // namespace qorl_python
