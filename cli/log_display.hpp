// The library's log as the command uses it: shown on standard error at the level the user asks
// for, and recorded per conversion so a failure can name its underlying cause.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "qorl_core/logger_manager.hpp"

namespace qorl_cli::log_capture {

// Shows the library's log lines at `shown` and above (none when nullopt) and records every
// line for the Capture active on the writing thread.
void install(std::optional<qorl_core::LogLevel> shown);

// Records the library's log lines written on this thread while it lives (one conversion).
class Capture {
 public:
  Capture();
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  void add(const qorl_core::LogRecord& record) { records_.push_back(record); }
  // What best tells why the conversion failed: the last warning or error followed by the first
  // line that reports a failed step (a download's HTTP status) when it does not say it already,
  // else that line alone; empty when there is neither.
  std::string cause() const;

 private:
  std::vector<qorl_core::LogRecord> records_;
  Capture* outer_;
};

}  // namespace qorl_cli::log_capture
