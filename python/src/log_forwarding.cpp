// The library's log lines, handed to Python's logging. The handler only queues a line (a mutex
// and a notify, never the GIL), so the loop thread and the pool go on at once; a Python thread
// waits for lines with the GIL released and logs them to logging.getLogger(<the logger's name>)
// at the same level.
#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "python/src/bindings.hpp"
#include "qorl_core/logger_manager.hpp"

namespace qorl_python {
namespace {

namespace py = pybind11;
using qorl_core::LogRecord;

class QueueHandler : public qorl_core::Handler {
 public:
  void emit(const LogRecord& record) override {
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return;
      records_.push_back(record);
    }
    ready_.notify_one();
  }

  // Waits for lines; none once stopped and drained.
  std::vector<LogRecord> take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return stopped_ || !records_.empty(); });
    std::vector<LogRecord> taken(std::make_move_iterator(records_.begin()),
                                 std::make_move_iterator(records_.end()));
    records_.clear();
    return taken;
  }

  void stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    ready_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<LogRecord> records_;
  bool stopped_ = false;
};

std::shared_ptr<QueueHandler>& queue_handler() {
  static auto* handler = new std::shared_ptr<QueueHandler>(std::make_shared<QueueHandler>());
  return *handler;
}

// The lines queued since the last call as (name, level, message, seconds since the epoch)
// tuples, waiting for one; None once forwarding has stopped and nothing is left.
py::object next_log_records() {
  std::vector<LogRecord> records;
  {
    py::gil_scoped_release release;
    records = queue_handler()->take();
  }
  if (records.empty()) return py::none();
  py::list out;
  for (const auto& record : records) {
    const std::chrono::duration<double> since_epoch = record.time.time_since_epoch();
    out.append(py::make_tuple(record.logger_name, static_cast<int>(record.level), record.message,
                              since_epoch.count()));
  }
  return out;
}

}  // namespace

void bind_log_forwarding(py::module_& module) {
  // Python's logging decides what is shown, unless QORL_LOG_LEVEL sets the library's own floor.
  auto root = qorl_core::LoggerManager().root();
  if (std::getenv("QORL_LOG_LEVEL") == nullptr) root->set_level(qorl_core::LogLevel::DEBUG);
  root->set_handlers({queue_handler()});
  module.def("_next_log_records", &next_log_records);
  module.def("_stop_log_forwarding", [] { queue_handler()->stop(); });
}

}  // namespace qorl_python
