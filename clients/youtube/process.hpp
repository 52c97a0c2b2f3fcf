// Runs a program with an argument vector (never through a shell) and collects its output.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace clients::youtube {

// The program could not be started (not found, not executable, out of resources).
class ProcessError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ProcessResult {
  int exit_code = 0;  // 128 + signal number when the program was killed by a signal
  std::string out;
  std::string err;
};

// Runs argv[0] (looked up on PATH when it names no directory) with exactly `argv`, standard
// input from /dev/null, and waits for it to end.
ProcessResult run_process(const std::vector<std::string>& argv);

}  // namespace clients::youtube
