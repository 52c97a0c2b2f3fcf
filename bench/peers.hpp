// The tools people would otherwise use, run in the same benchmark as our code: their time,
// their peak memory, and the ratio counters.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qorl_bench {

struct PeerRun {
  double seconds = 0;   // wall time of the whole program
  double peak_mib = 0;  // its peak resident memory
  std::string out;      // its standard output
};

// Runs a peer program under GNU time (so its peak is its own, not this process's); none, with
// the reason in `failure`, when it cannot run or fails.
std::optional<PeerRun> run_peer(std::vector<std::string> argv, std::string& failure);

// Debian's Python (/usr/bin/python3); none when it imports every module, else what to install.
std::optional<std::string> missing_python_modules(const std::vector<std::string>& modules);

// Counters `peer_s` and `time_vs_peer` (our time over the peer's: below 1 is faster).
void report_against_peer(benchmark::State& state, double ours_seconds, double peer_seconds);

// Notes in the benchmark's label that the peer was not run, and why.
void note_peer_skipped(benchmark::State& state, const std::string& why);

inline double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Peak resident memory of this process from now on (Linux: clear_refs 5 resets the mark), and
// the /proc/self/status fields in MiB.
void reset_peak_memory();
double status_mib(const std::string& field);

}  // namespace qorl_bench
