#include "cli/runner.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "cli/exit_status.hpp"
#include "qorl_core/errors.hpp"

namespace qorl_cli {
namespace {

struct Shared {
  const std::vector<std::string>& sources;
  Reporter& reporter;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> any_failed{false};
};

// One worker: takes the next source until none is left. Blocking steps of a conversion hold up
// only this worker's loop.
boost::asio::awaitable<void> drain(Job* job, Shared* shared) {
  for (std::size_t index; (index = shared->next++) < shared->sources.size();) {
    const std::string& source = shared->sources[index];
    shared->reporter.started();
    std::string error;
    try {
      Outcome outcome = co_await (*job)(source);
      shared->reporter.succeeded(source, outcome);
      continue;
    } catch (const std::exception& e) {
      error = qorl_core::describe(e);
    } catch (...) {
      error = "unknown error";
    }
    shared->any_failed = true;
    shared->reporter.failed(source, error);
  }
}

void run_worker(Job* job, Shared* shared) {
  boost::asio::io_context loop;
  boost::asio::co_spawn(loop, drain(job, shared), boost::asio::detached);
  loop.run();
}

}  // namespace

int run_jobs(const std::vector<std::string>& sources, const JobFactory& make_job,
             const RunSettings& settings) {
  const std::size_t workers = std::min<std::size_t>(settings.jobs, sources.size());
  std::vector<Job> jobs;
  for (std::size_t i = 0; i < workers; ++i) jobs.push_back(make_job());

  Reporter reporter(sources.size(), settings.json, isatty(STDERR_FILENO) == 1);
  Shared shared{sources, reporter};
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < workers; ++i) threads.emplace_back(run_worker, &jobs[i], &shared);
  if (workers > 0) run_worker(&jobs[0], &shared);
  for (auto& thread : threads) thread.join();
  return shared.any_failed ? kConversionFailed : kSuccess;
}

}  // namespace qorl_cli
