// Runs one conversion per source, up to `jobs` at a time, reporting each as it completes.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <functional>
#include <string>
#include <vector>

#include "cli/reporter.hpp"

namespace qorl_cli {

using Job = std::function<boost::asio::awaitable<Outcome>(std::string source)>;
// Makes the job of one worker: each worker owns its converter and its event loop.
using JobFactory = std::function<Job()>;

struct RunSettings {
  ReportSettings report;
  int jobs = 1;
};

// -q: set once by main, before any command runs.
inline bool quiet_output = false;

// Errors of `make_job` propagate (they are settings the user gave). A failed source is reported
// with the underlying cause the library logged during its conversion. Returns kSuccess, or
// kConversionFailed when any source failed or a result could not be written.
int run_jobs(const std::vector<std::string>& sources, const JobFactory& make_job,
             RunSettings settings);

}  // namespace qorl_cli
