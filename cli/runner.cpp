#include "cli/runner.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "cli/exit_status.hpp"
#include "cli/log_capture.hpp"
#include "cli/output.hpp"

namespace qorl_cli {
namespace {

struct Shared {
  const std::vector<std::string>& sources;
  Reporter& reporter;
  std::atomic<std::size_t> next{0};
};

// The error's text, then the cause the library logged when the text does not already say it.
std::string failure_text(const std::exception& error, const std::string& cause) {
  std::string text = output::error_text(error);
  if (!cause.empty() && text.find(cause) == std::string::npos) text += ": " + cause;
  return text;
}

// One worker: takes the next source until none is left. Blocking steps of a conversion hold up
// only this worker's loop, and its log lines belong to the conversion on this thread.
boost::asio::awaitable<void> drain(Job* job, Shared* shared) {
  for (std::size_t index; (index = shared->next++) < shared->sources.size();) {
    shared->reporter.started();
    log_capture::Capture capture;
    std::string error;
    try {
      Outcome outcome = co_await (*job)(shared->sources[index]);
      shared->reporter.succeeded(index, std::move(outcome));
      continue;
    } catch (const std::exception& e) {
      error = failure_text(e, capture.cause());
    } catch (...) {
      error = "unknown error";
    }
    shared->reporter.failed(index, std::move(error));
  }
}

void run_worker(Job* job, Shared* shared) {
  boost::asio::io_context loop;
  boost::asio::co_spawn(loop, drain(job, shared), boost::asio::detached);
  loop.run();
}

bool can_draw_progress() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && !(term && std::string_view(term) == "dumb");
}

}  // namespace

int run_jobs(const std::vector<std::string>& sources, const JobFactory& make_job,
             RunSettings settings) {
  const std::size_t workers = std::min<std::size_t>(settings.jobs, sources.size());
  std::vector<Job> jobs;
  for (std::size_t i = 0; i < workers; ++i) jobs.push_back(make_job());

  settings.report.quiet = quiet_output;
  settings.report.progress = !quiet_output && can_draw_progress();
  Reporter reporter(sources, settings.report);
  Shared shared{sources, reporter};
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < workers; ++i) threads.emplace_back(run_worker, &jobs[i], &shared);
  if (workers > 0) run_worker(&jobs[0], &shared);
  for (auto& thread : threads) thread.join();
  if (const std::string error = reporter.output_error(); !error.empty()) {
    std::cerr << "qorl-multimodal: " << error << std::endl;
  }
  return reporter.any_failed() ? kConversionFailed : kSuccess;
}

}  // namespace qorl_cli
