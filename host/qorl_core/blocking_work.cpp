#include "qorl_core/blocking_work.hpp"

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

}  // namespace qorl_core
