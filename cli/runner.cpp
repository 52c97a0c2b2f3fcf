#include "cli/runner.hpp"

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/cancellation_signal.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "cli/exit_status.hpp"
#include "cli/interruption.hpp"
#include "cli/output.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_inference/gemini_batch.hpp"
#include "qorl_multimodal/batch/store.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_cli {
namespace {

namespace asio = boost::asio;
using batch::manifest::SourceEntry;
using batch::runner::Result;
using batch::runner::Status;

// --output-dir is made like mkdir -p.
void make_output_dir(const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error || !std::filesystem::is_directory(dir)) {
    throw UsageError("--output-dir: cannot make " + dir + ": " +
                     (error ? error.message() : "it is not a directory"));
  }
}

// Lists and folders that are not there are mistakes of the command line, found before any
// conversion.
void check_selection(const SourceSelection& selection) {
  for (const auto& list : selection.lists) {
    if (list != "-" && !std::ifstream(list)) throw UsageError("--from: cannot read " + list);
  }
  for (const auto& folder : selection.folders) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
      throw UsageError("--recursive: not a folder: " + folder);
    }
  }
}

bool can_draw_progress() {
  const char* term = std::getenv("TERM");
  return isatty(STDERR_FILENO) == 1 && !(term && std::string_view(term) == "dumb");
}

// The sources in the order given: the positional ones, then each list, then each folder. A list
// line that is no source is reported as a failure of its own and reading goes on.
class Sources {
 public:
  Sources(const std::vector<std::string>& positional, const SourceSelection& selection,
          Reporter& reporter)
      : positional_(positional), selection_(selection), reporter_(reporter) {}

  std::optional<SourceEntry> next() {
    std::optional<SourceEntry> entry = read();
    if (!entry) return std::nullopt;
    entry->index = count_++;
    reporter_.started(entry->index, entry->source);
    return entry;
  }

 private:
  std::optional<SourceEntry> read() {
    if (next_positional_ < positional_.size()) {
      return SourceEntry{.source = positional_[next_positional_++]};
    }
    while (list_ || next_list_ < selection_.lists.size()) {
      if (!list_) {
        list_.emplace(selection_.lists[next_list_++], std::cin);
        continue;
      }
      try {
        if (auto entry = list_->next()) return entry;
        list_.reset();
      } catch (const qorl_core::ValueError& error) {
        reporter_.refused_line(error.what());
      }
    }
    while (walk_ || next_folder_ < selection_.folders.size()) {
      if (!walk_) {
        walk_.emplace(selection_.folders[next_folder_++], selection_.filter);
        continue;
      }
      if (auto entry = walk_->next()) return entry;
      walk_.reset();
    }
    return std::nullopt;
  }

  const std::vector<std::string>& positional_;
  const SourceSelection& selection_;
  Reporter& reporter_;
  std::size_t next_positional_ = 0;
  std::size_t next_list_ = 0;
  std::size_t next_folder_ = 0;
  std::optional<batch::manifest::ManifestReader> list_;
  std::optional<batch::manifest::FolderWalk> walk_;
  std::size_t count_ = 0;
};

// The failure's text as the command prints it: the error's own, then its causes.
std::string error_text(const Result& result) { return result.error.value_or("unknown error"); }

Report as_report(const Job& job, const Result& result) {
  Report report;
  switch (result.status) {
    case Status::done:
    case Status::cached:
      try {
        report.outcome = job.render(result.record);
        report.outcome.warnings.insert(report.outcome.warnings.begin(), result.warnings.begin(),
                                       result.warnings.end());
        report.outcome.via = result.via;
        report.ok = true;
        report.cached = result.status == Status::cached;
        report.usage = result.usage;
      } catch (const std::exception& error) {
        report.error = output::error_text(error);
      }
      break;
    case Status::failed: report.error = error_text(result); break;
    case Status::skipped: report.error = "not retried: " + error_text(result); break;
    case Status::pending:
      report.pending = "waiting in " + result.batch_name.value_or("a batch") +
                       ": run again to collect the answer";
      break;
  }
  return report;
}

std::optional<batch::store::Store> open_store(const SourceSelection& selection) {
  if (selection.store.empty()) return std::nullopt;
  batch::store::Store::Options options;
  options.tool_version = QORL_MULTIMODAL_VERSION;
  return batch::store::Store::open(selection.store, options);
}

batch::store::Redo redo_of(const SourceSelection& selection) {
  if (selection.refresh) return batch::store::Redo::everything;
  if (selection.retry_failed) return batch::store::Redo::failed;
  return batch::store::Redo::nothing;
}

}  // namespace

int run_jobs(const std::vector<std::string>& sources, Job job, RunSettings settings) {
  const SourceSelection& selection = settings.selection;
  check_selection(selection);
  if (!settings.report.output_dir.empty()) make_output_dir(settings.report.output_dir);
  std::optional<batch::store::Store> store;
  try {
    store = open_store(selection);
  } catch (const batch::store::StoreError& error) {
    std::cerr << output::for_descriptor(
                     STDERR_FILENO,
                     "qorl-multimodal: " + output::one_line(output::error_text(error)))
              << std::endl;
    return kConversionFailed;
  }

  settings.report.quiet = quiet_output;
  settings.report.progress = !quiet_output && can_draw_progress();
  settings.report.several =
      sources.size() > 1 || !selection.lists.empty() || !selection.folders.empty();
  if (selection.lists.empty() && selection.folders.empty()) settings.report.total = sources.size();
  Reporter reporter(settings.report);
  Sources stream(sources, selection, reporter);

  // The blocking steps of every conversion (decoding, encoding, hashing) share the cores; the loop
  // only waits.
  asio::thread_pool pool(std::max(1u, std::thread::hardware_concurrency()));
  qorl_core::set_default_blocking_executor(pool.get_executor());

  batch::runner::RunOptions options;
  options.jobs = static_cast<std::size_t>(settings.jobs);
  options.request = job.request;
  options.store = store ? &*store : nullptr;
  options.redo = redo_of(selection);
  // Without a store nothing is keyed: each source goes to the conversion as given.
  options.key_unstored = false;
  batch::runner::RunControl control;
  options.control = &control;

  if (settings.batch.mode != BatchSettings::Mode::off) {
    if (job.request.model.rfind("openai/", 0) == 0) {
      throw UsageError("--batch and --batch-detach work with Gemini models only");
    }
    qorl_inference::GeminiBatcherOptions batching;
    batching.detach = settings.batch.mode == BatchSettings::Mode::detached;
    batching.polling.initial_interval = settings.batch.first_poll;
    batching.polling.deadline = settings.batch.deadline;
    options.gemini_batch = std::move(batching);
  }

  const auto on_result = [&](const Result& result) {
    reporter.finished(result.entry.index, as_report(job, result));
  };

  asio::io_context loop;
  asio::cancellation_signal cancel;
  std::exception_ptr run_error;
  std::optional<batch::usage::RunSummary> summary;
  asio::co_spawn(
      loop, batch::runner::run(batch::runner::stream_of(stream), job.convert, on_result, options),
      asio::bind_cancellation_slot(cancel.slot(),
                                   [&](std::exception_ptr error, batch::usage::RunSummary done) {
                                     run_error = error;
                                     if (!error) summary = done;
                                   }));
  {
    const interruption::OnInterrupt on_interrupt([&loop, &cancel] {
      asio::post(loop, [&cancel] { cancel.emit(asio::cancellation_type::terminal); });
    });
    loop.run();
  }
  qorl_core::set_default_blocking_executor(std::nullopt);
  pool.join();

  if (const int signal = interruption::received()) return 128 + signal;
  reporter.close();
  if (run_error) {
    try {
      std::rethrow_exception(run_error);
    } catch (const std::exception& error) {
      std::cerr << output::for_descriptor(
                       STDERR_FILENO,
                       "qorl-multimodal: " + output::one_line(output::error_text(error)))
                << std::endl;
    }
    return kConversionFailed;
  }
  if (summary && selection.corpus() && !quiet_output) {
    std::cerr << batch::usage::format_summary(*summary) << std::endl;
  }
  if (summary && summary->quota_exhausted) {
    std::cerr << output::for_descriptor(
                     STDERR_FILENO,
                     "qorl-multimodal: " + output::one_line(*summary->quota_exhausted) +
                         (selection.store.empty()
                              ? "; nothing new was started (with --store, a rerun resumes)"
                              : "; nothing new was started: the same command with the same "
                                "--store resumes"))
              << std::endl;
    return kTryAgainLater;
  }
  if (summary && summary->pending > 0) {
    std::cerr << "qorl-multimodal: " << batch::usage::format_count(summary->pending)
              << " results are still being made in Gemini batch jobs: the same command with the "
                 "same --store collects them"
              << std::endl;
    return kTryAgainLater;
  }
  if (const std::string error = reporter.output_error(); !error.empty()) {
    std::cerr << output::for_descriptor(STDERR_FILENO, "qorl-multimodal: " + error) << std::endl;
  }
  return reporter.any_failed() ? kConversionFailed : kSuccess;
}

}  // namespace qorl_cli
