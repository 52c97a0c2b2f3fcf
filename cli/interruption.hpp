// Ctrl-C (SIGINT), SIGTERM and SIGHUP end a run without leaving anything behind: the conversions
// in flight are cancelled, which kills their child programs and removes their temporary files,
// and the command exits with 128 + the signal's number.
#pragma once

#include <chrono>
#include <functional>

namespace qorl_cli::interruption {

// How long cancelled conversions may take to end before the process removes its temporaries
// itself and exits (a step that computes without waiting notices the cancellation only after).
inline constexpr std::chrono::seconds kGrace{10};

// From now on the signals (those not ignored, as under nohup) go to a watcher thread. Called
// once by main before any other thread starts, so that every thread leaves them to the watcher.
void watch();

// The signal that is ending the process; 0 while none has come.
int received() noexcept;

// While it lives, a signal calls `cancel` (on the watcher thread), kills the programs the process
// started and gives the process kGrace to end, a second signal ending it at once; without one,
// the process ends at once. Either way the temporaries still there are removed before it exits.
class OnInterrupt {
 public:
  explicit OnInterrupt(std::function<void()> cancel);
  ~OnInterrupt();
  OnInterrupt(const OnInterrupt&) = delete;
  OnInterrupt& operator=(const OnInterrupt&) = delete;
};

}  // namespace qorl_cli::interruption
