#include "cli/interruption.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "qorl_core/files.hpp"

namespace qorl_cli::interruption {
namespace {

std::atomic<int> signal_received{0};

// The cancellation of the run in progress; a signal that finds none ends the process at once.
std::mutex cancel_mutex;
std::function<void()> cancel_run;

// The processes this one started: each leads a process group of its own (the programs it may
// have started in turn are in it), so the whole group is killed. A conversion that awaits its
// program on another event loop (a synchronous step) learns of the cancellation only once the
// program has ended.
void kill_children() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    pid_t child = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), child).ptr !=
        name.data() + name.size()) {
      continue;
    }
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid ...": the name may hold anything, blanks and parentheses included.
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0;
    if (!(fields >> state >> parent) || parent != ::getpid()) continue;
    ::kill(::getpgid(child) == child ? -child : child, SIGKILL);
  }
}

[[noreturn]] void end_process(int signal) {
  kill_children();
  qorl_core::remove_temporaries();
  ::_exit(128 + signal);
}

void wait_for_signals(sigset_t signals) {
  int signal = 0;
  while (::sigwait(&signals, &signal) != 0) {
  }
  signal_received = signal;
  {
    // Held while cancelling, so that the run cannot end and take its event loops away meanwhile.
    std::lock_guard lock(cancel_mutex);
    if (!cancel_run) end_process(signal);
    cancel_run();
  }
  kill_children();
  const timespec grace{static_cast<time_t>(kGrace.count()), 0};
  // Until the run has ended and main returned, a second signal, or the end of the grace.
  while (::sigtimedwait(&signals, nullptr, &grace) < 0 && errno == EINTR) {
  }
  end_process(signal);
}

}  // namespace

void watch() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
      sigaddset(&signals, signal);
    }
  }
  if (sigisemptyset(&signals)) return;
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(wait_for_signals, signals).detach();
}

int received() noexcept { return signal_received; }

OnInterrupt::OnInterrupt(std::function<void()> cancel) {
  std::lock_guard lock(cancel_mutex);
  cancel_run = std::move(cancel);
}

OnInterrupt::~OnInterrupt() {
  std::lock_guard lock(cancel_mutex);
  cancel_run = nullptr;
}

}  // namespace qorl_cli::interruption
