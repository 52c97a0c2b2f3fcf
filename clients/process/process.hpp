// Runs a program with an argument vector (never through a shell), awaited on the caller's event
// loop: standard input fed from a buffer, both outputs collected up to a cap, a deadline, and
// cancellation. A program that is cut short is killed with its whole process group and reaped.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clients/common/service_error.hpp"

namespace clients::process {

// The program could not be started (not found, not executable, out of resources), or was
// stopped because it passed its deadline or its output cap. Its service is the program; not
// retryable.
class ProcessError : public ServiceError {
 public:
  explicit ProcessError(const std::string& message, std::string program = "process",
                        std::string code = {})
      : ServiceError(message, {std::move(program), std::nullopt, std::move(code), false}) {}
};

// The program was still running at its deadline; it was killed. Code "timeout".
class ProcessTimeout : public ProcessError {
 public:
  ProcessTimeout(const std::string& message, std::string program)
      : ProcessError(message, std::move(program), "timeout") {}
};

struct ProcessResult {
  int exit_code = 0;  // 128 + signal number when the program was killed by a signal
  std::string out;
  std::string err;
};

struct ProcessOptions {
  // Fed to standard input, which is then closed; none: /dev/null. The bytes must stay alive
  // until the run completes.
  std::optional<std::string_view> input{};
  // Past this many bytes on either output the program is killed and the run fails.
  std::size_t output_limit = std::size_t{64} << 20;
  // The program is killed when it runs longer; zero means no limit.
  std::chrono::milliseconds deadline = std::chrono::minutes(10);
};

// Runs argv[0] (looked up on PATH when it names no directory) with exactly `argv`, in a process
// group of its own, and awaits its end and the end of both outputs. A cancellation of the awaiting
// coroutine (terminal) kills the group, reaps the program and rethrows the cancellation.
[[nodiscard]] boost::asio::awaitable<ProcessResult> async_run_process(std::vector<std::string> argv,
                                                                      ProcessOptions options = {});

}  // namespace clients::process
