#include "bench/peers.hpp"

#include <chrono>
#include <fstream>

#include "clients/process/process.hpp"
#include "testing/run_program.hpp"

namespace qorl_bench {

std::optional<PeerRun> run_peer(std::vector<std::string> argv, std::string& failure) {
  argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M"});
  const auto start = std::chrono::steady_clock::now();
  clients::process::ProcessResult result;
  try {
    result = qorl_testing::run_process(argv);
  } catch (const std::exception& error) {
    failure = error.what();
    return std::nullopt;
  }
  PeerRun run;
  run.seconds = seconds_since(start);
  if (result.exit_code != 0) {
    failure = argv[3] + " failed: " + result.err;
    return std::nullopt;
  }
  // GNU time's figure is the last line of standard error.
  std::string err = result.err;
  while (!err.empty() && err.back() == '\n') err.pop_back();
  const auto line = err.find_last_of('\n');
  run.peak_mib = std::stod(err.substr(line == std::string::npos ? 0 : line + 1)) / 1024;
  run.out = std::move(result.out);
  return run;
}

std::optional<std::string> missing_python_modules(const std::vector<std::string>& modules) {
  std::string imports;
  for (const auto& module : modules) imports += (imports.empty() ? "import " : ", ") + module;
  try {
    if (qorl_testing::run_process({"/usr/bin/python3", "-c", imports}).exit_code == 0) {
      return std::nullopt;
    }
  } catch (const std::exception&) {
  }
  return "/usr/bin/python3 cannot " + imports + " (Debian python3-* packages)";
}

void report_against_peer(benchmark::State& state, double ours_seconds, double peer_seconds) {
  state.counters["peer_s"] = peer_seconds;
  state.counters["time_vs_peer"] = ours_seconds / peer_seconds;
}

void note_peer_skipped(benchmark::State& state, const std::string& why) {
  state.SetLabel("peer skipped: " + why);
}

void reset_peak_memory() { std::ofstream("/proc/self/clear_refs") << "5"; }

double status_mib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
  }
  return 0;
}

}  // namespace qorl_bench
