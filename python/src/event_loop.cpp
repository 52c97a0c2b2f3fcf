#include "python/src/event_loop.hpp"

#include "qorl_core/blocking_work.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <thread>

namespace qorl_python {

namespace {

class LibraryLoop {
 public:
  asio::any_io_executor executor() {
    std::call_once(started_, [this] { thread_ = std::thread([this] { io_.run(); }); });
    return io_.get_executor();
  }

  // From now on the shared pool has `threads` threads: a new pool takes the work to come; work
  // already handed to the old one ends there.
  asio::any_io_executor resize_blocking_pool(unsigned threads) {
    threads = std::max(threads, 1u);
    std::lock_guard lock(pool_mutex_);
    if (pools_.empty() || pool_threads_ != threads) {
      pools_.emplace_back(threads);
      pool_threads_ = threads;
    }
    return pools_.back().get_executor();
  }

  // Lets the loop finish and joins it; the GIL is released meanwhile, as completions need it.
  void stop() {
    py::gil_scoped_release release;
    guard_.reset();
    io_.stop();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(pool_mutex_);
    for (auto& pool : pools_) pool.join();
  }

  std::atomic<int> in_flight{0};

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> guard_{io_.get_executor()};
  std::once_flag started_;
  std::thread thread_;
  std::mutex pool_mutex_;
  std::list<asio::thread_pool> pools_;  // the last is the shared one
  unsigned pool_threads_ = 0;
};

// Never destroyed: handlers left on the loop at exit hold Python objects that must not be
// released after the interpreter is gone.
LibraryLoop& library_loop() {
  static auto* loop = new LibraryLoop;
  return *loop;
}

}  // namespace

asio::any_io_executor library_executor() { return library_loop().executor(); }
int operations_in_flight() { return library_loop().in_flight.load(); }

namespace detail {

void operation_started() { ++library_loop().in_flight; }
void operation_finished() { --library_loop().in_flight; }

PythonRef::~PythonRef() {
  if (!object_ || !Py_IsInitialized()) {
    object_.release();
    return;
  }
  py::gil_scoped_acquire gil;
  object_ = py::object();
}

void settle(const PythonRef& loop, const PythonRef& future, bool failed, py::object outcome) {
  static py::handle settle_future =
      py::object(py::module_::import("qorl_multimodal._bridge").attr("settle_future")).release();
  try {
    loop.get().attr("call_soon_threadsafe")(settle_future, future.get(), failed,
                                            std::move(outcome));
  } catch (py::error_already_set& closed) {
    // The asyncio loop is closed: nobody waits for the outcome any more.
    closed.discard_as_unraisable("qorl_multimodal: completing an operation");
  }
}

void cancel_when_cancelled(py::handle future, std::shared_ptr<asio::cancellation_signal> signal) {
  future.attr("add_done_callback")(py::cpp_function([signal](py::handle done) {
    if (!done.attr("cancelled")().cast<bool>()) return;
    asio::post(library_executor(), [signal] { signal->emit(asio::cancellation_type::terminal); });
  }));
}

}  // namespace detail

void bind_event_loop(py::module_& module) {
  // CPU-heavy steps leave the loop thread, which serves every conversion of the process.
  qorl_core::set_default_blocking_executor(
      library_loop().resize_blocking_pool(std::thread::hardware_concurrency()));
  module.def(
      "_use_blocking_threads",
      [](unsigned threads) {
        qorl_core::set_default_blocking_executor(library_loop().resize_blocking_pool(threads));
      },
      py::arg("threads"),
      "Sizes the shared pool of CPU-heavy steps (by default one thread per core), for a process "
      "given fewer cores than the machine has.");
  module.def("_operations_in_flight", &operations_in_flight,
             "Operations started on the library's event loop that have not completed yet.");
  module.def("_stop_event_loop", [] { library_loop().stop(); });
  py::module_::import("atexit").attr("register")(module.attr("_stop_event_loop"));
}

}  // namespace qorl_python
