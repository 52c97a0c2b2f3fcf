// Reports each source's result as it completes and keeps a progress line on standard error while
// conversions run (only on a terminal that can draw it). Sources are numbered in the order they
// start; nothing needs the whole list up front.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/output.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_cli {

// What one source produced: its text form, its full record for --json, and what was changed to
// make the text valid.
struct Outcome {
  std::string text;
  qorl_core::Value record;
  std::vector<std::string> warnings;
  // Which route produced it, when the command chose among several (--json's "via").
  std::string via{};
};

struct ReportSettings {
  bool json = false;        // one JSON line per source, failures included
  bool keep_order = false;  // results in the order of the sources, not of completion
  bool quiet = false;       // no progress line, no warnings
  bool progress = false;    // draw the progress line
  std::string output_dir;   // when set, one file per source there instead of standard output
  std::string extension;    // of those files for text results (".srt"); JSON results take ".json"
  bool several = false;     // text results get a header naming their source
  std::optional<std::size_t> total{};  // the number of sources, when known: the progress line's ETA
};

// How one source ended.
struct Report {
  bool ok = false;
  bool cached = false;                           // the result came from the store
  qorl_multimodal::batch::usage::Usage usage{};  // what this run paid for it
  Outcome outcome{};
  std::string error{};
  std::string pending{};  // not ok, yet no failure: why the result is still to come
};

class Reporter {
 public:
  explicit Reporter(ReportSettings settings);
  ~Reporter();
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // Sources start in the order of their index, 0 first.
  void started(std::size_t index, std::string source);
  void finished(std::size_t index, Report report);
  // A line of a source list that names no source: one error line, counted as a failure.
  void refused_line(const std::string& message);
  // Ends the progress line; nothing is drawn after it.
  void close();

  // Whether every result reached its destination; when not, why standard output failed is
  // `output_error()`.
  bool any_failed() const;
  std::string output_error() const;

 private:
  void deliver_locked(std::size_t index, Report report);
  void write_locked(std::size_t index, Report report);
  void write_result_locked(std::size_t index, const Report& report);
  void write_error_locked(std::size_t index, const std::string& message);
  void write_stdout_locked(const std::string& text);
  void draw_locked();
  void clear_locked();
  void tick();

  const ReportSettings settings_;
  std::vector<std::string> sources_;  // by index
  std::vector<std::string> stems_;    // by index, with --output-dir
  output::FileStems stem_names_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::size_t, Report> waiting_;  // finished out of order, with --keep-order
  std::size_t next_to_write_ = 0;
  std::size_t running_ = 0;
  std::size_t done_ = 0;
  std::size_t from_store_ = 0;
  std::size_t failed_ = 0;
  bool any_failed_ = false;
  std::string output_error_;
  bool stopping_ = false;
  bool drawn_ = false;
  std::thread ticker_;
};

}  // namespace qorl_cli
