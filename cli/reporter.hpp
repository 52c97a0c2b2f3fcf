// Reports each source's result as it completes, from any worker thread, and keeps a progress
// line on standard error while conversions run (only when standard error is a terminal).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "qorl_core/value.hpp"

namespace qorl_cli {

// What one source produced: its text form and its full record for --json.
struct Outcome {
  std::string text;
  qorl_core::Value record;
};

class Reporter {
 public:
  Reporter(std::size_t total, bool json, bool show_progress);
  ~Reporter();
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  void started();
  void succeeded(const std::string& source, const Outcome& outcome);
  void failed(const std::string& source, const std::string& message);

 private:
  void finish_locked();
  void draw_locked();
  void clear_locked();
  void tick();

  const std::size_t total_;
  const bool json_;
  const bool show_progress_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  std::size_t running_ = 0;
  std::size_t done_ = 0;
  bool stopping_ = false;
  bool drawn_ = false;
  std::thread ticker_;
};

}  // namespace qorl_cli
