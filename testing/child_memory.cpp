#include "testing/child_memory.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

namespace qorl_testing {

namespace {

// A /proc/self/status field ("VmRSS", "VmHWM") in bytes.
std::size_t status_bytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1)) * 1024;
  }
  return 0;
}

void write_all(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

ChildRun run_in_child(const std::function<std::string()>& work) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::close(pipe_fds[0]);
    // The high-water mark starts again from what the child holds now.
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::size_t start = status_bytes("VmRSS");
    std::string result;
    try {
      result = work();
    } catch (const std::exception& e) {
      result = std::string("error: ") + e.what();
    }
    write_all(pipe_fds[1],
              std::to_string(start) + " " + std::to_string(status_bytes("VmHWM")) + "\n" + result);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const std::size_t line_end = report.find('\n');
  if (line_end == std::string::npos) throw std::runtime_error("the child process died");
  ChildRun run;
  std::sscanf(report.c_str(), "%zu %zu", &run.start_rss, &run.peak_rss);
  run.result = report.substr(line_end + 1);
  return run;
}

}  // namespace qorl_testing
