// Runs a subcommand's conversion over its sources on one event loop, up to `jobs` at a time,
// with a pool for the blocking steps, an optional results store, and each result reported as it
// completes.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/reporter.hpp"
#include "qorl_multimodal/batch/runner.hpp"

namespace qorl_cli {

namespace batch = qorl_multimodal::batch;

// What a subcommand does with each source.
struct Job {
  // The record of one source (what --json writes as "result"). The source is its text, or the
  // bytes the run already read to key it.
  batch::runner::ConvertFunction convert;
  // A record's text form and warnings, for fresh and stored records alike.
  std::function<Outcome(const qorl_core::Value& record)> render;
  // What else than the media keys a stored result: the subcommand, backend, model and options.
  batch::cache_key::Request request;
};

// Where the sources come from, besides the positional ones (in this order), and the store.
struct SourceSelection {
  std::vector<std::string> lists;      // --from: files of sources ("-": standard input)
  std::vector<std::string> folders;    // --recursive
  batch::manifest::WalkFilter filter;  // --include, --exclude
  std::string store;                   // --store
  bool retry_failed = false;
  bool refresh = false;

  // Whether this is a corpus run, which ends with a summary line.
  bool corpus() const { return !lists.empty() || !folders.empty() || !store.empty(); }
};

// --batch and --batch-detach: the run's Gemini requests go through the batch mode, at half the
// price, answered within hours. Detached, a run submits and ends; the next run with the same
// store collects what has finished and submits what is new.
struct BatchSettings {
  enum class Mode { off, attached, detached };
  Mode mode = Mode::off;
  std::chrono::milliseconds first_poll{std::chrono::seconds(10)};
  std::chrono::hours deadline{24};
};

struct RunSettings {
  ReportSettings report;
  int jobs = 1;
  SourceSelection selection;
  BatchSettings batch;
};

// -q: set once by main, before any command runs.
inline bool quiet_output = false;

// Converts every source with `job`. A failed source is reported with its cause. Returns
// kSuccess, or kConversionFailed when any source failed, a result could not be written or the
// store failed; 128 + the signal's number when one interrupted the run.
int run_jobs(const std::vector<std::string>& sources, Job job, RunSettings settings);

}  // namespace qorl_cli
