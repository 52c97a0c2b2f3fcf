// Reports each source's result as it completes, from any worker thread, and keeps a progress
// line on standard error while conversions run (only on a terminal that can draw it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qorl_core/value.hpp"

namespace qorl_cli {

// What one source produced: its text form, its full record for --json, and what was changed to
// make the text valid.
struct Outcome {
  std::string text;
  qorl_core::Value record;
  std::vector<std::string> warnings;
};

struct ReportSettings {
  bool json = false;        // one JSON line per source, failures included
  bool keep_order = false;  // results in the order of the sources, not of completion
  bool quiet = false;       // no progress line, no warnings
  bool progress = false;    // draw the progress line
  std::string output_dir;   // when set, one file per source there instead of standard output
  std::string extension;    // of those files for text results (".srt"); JSON results take ".json"
};

class Reporter {
 public:
  Reporter(const std::vector<std::string>& sources, ReportSettings settings);
  ~Reporter();
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  void started();
  void succeeded(std::size_t index, Outcome outcome);
  void failed(std::size_t index, std::string message);

  // Whether every result reached its destination; when not, why standard output failed is
  // `output_error()`.
  bool any_failed() const;
  std::string output_error() const;

 private:
  struct Report {
    bool ok = false;
    Outcome outcome;
    std::string error;
  };

  void deliver_locked(std::size_t index, Report report);
  void write_locked(std::size_t index, Report report);
  void write_result_locked(std::size_t index, const Outcome& outcome);
  void write_error_locked(std::size_t index, const std::string& message);
  void write_stdout_locked(const std::string& text);
  void draw_locked();
  void clear_locked();
  void tick();

  const std::vector<std::string>& sources_;
  const ReportSettings settings_;
  const std::vector<std::string> file_stems_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::size_t, Report> waiting_;  // finished out of order, with --keep-order
  std::size_t next_to_write_ = 0;
  std::size_t running_ = 0;
  std::size_t done_ = 0;
  bool any_failed_ = false;
  std::string output_error_;
  bool stopping_ = false;
  bool drawn_ = false;
  std::thread ticker_;
};

}  // namespace qorl_cli
