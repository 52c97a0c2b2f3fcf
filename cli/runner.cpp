#include "cli/runner.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "cli/exit_status.hpp"
#include "cli/interruption.hpp"
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

// One worker: takes the next source until none is left, or the run is interrupted (what was
// cancelled then is no failure of its source). Blocking steps of a conversion hold up only this
// worker's loop, and its log lines belong to the conversion on this thread.
boost::asio::awaitable<void> drain(Job* job, Shared* shared) {
  for (std::size_t index;
       !interruption::received() && (index = shared->next++) < shared->sources.size();) {
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
    if (interruption::received()) break;
    shared->reporter.failed(index, std::move(error));
  }
}

// A worker's own converter and event loop, and the signal that cancels its conversion.
struct Worker {
  explicit Worker(Job made) : job(std::move(made)) {}

  Job job;
  boost::asio::io_context loop;
  boost::asio::cancellation_signal cancel;

  void run(Shared* shared) {
    boost::asio::co_spawn(
        loop, drain(&job, shared),
        boost::asio::bind_cancellation_slot(cancel.slot(), boost::asio::detached));
    loop.run();
  }
  // From any thread.
  void cancel_from_elsewhere() {
    boost::asio::post(loop, [this] { cancel.emit(boost::asio::cancellation_type::terminal); });
  }
};

// --output-dir is made like mkdir -p.
void make_output_dir(const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir)) {
    throw UsageError("--output-dir: cannot make " + dir + ": " +
                     (error ? error.message() : "it is not a directory"));
  }
}

bool can_draw_progress() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && !(term && std::string_view(term) == "dumb");
}

}  // namespace

int run_jobs(const std::vector<std::string>& sources, const JobFactory& make_job,
             RunSettings settings) {
  const std::size_t count = std::min<std::size_t>(settings.jobs, sources.size());
  std::vector<std::unique_ptr<Worker>> workers;
  for (std::size_t i = 0; i < count; ++i) workers.push_back(std::make_unique<Worker>(make_job()));
  if (!settings.report.output_dir.empty()) make_output_dir(settings.report.output_dir);

  settings.report.quiet = quiet_output;
  settings.report.progress = !quiet_output && can_draw_progress();
  Reporter reporter(sources, settings.report);
  Shared shared{sources, reporter};
  {
    const interruption::OnInterrupt on_interrupt([&workers] {
      for (auto& worker : workers) worker->cancel_from_elsewhere();
    });
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < count; ++i) {
      threads.emplace_back([&shared, worker = workers[i].get()] { worker->run(&shared); });
    }
    if (count > 0) workers[0]->run(&shared);
    for (auto& thread : threads) thread.join();
  }
  if (const int signal = interruption::received()) return 128 + signal;
  if (const std::string error = reporter.output_error(); !error.empty()) {
    std::cerr << output::for_descriptor(STDERR_FILENO, "qorl-multimodal: " + error) << std::endl;
  }
  return reporter.any_failed() ? kConversionFailed : kSuccess;
}

}  // namespace qorl_cli
