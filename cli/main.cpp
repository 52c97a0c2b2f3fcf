// qorl-multimodal: turns media into text from the command line.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string_view>
#include <vector>

#include "cli/commands/commands.hpp"
#include "cli/exit_status.hpp"
#include "cli/interruption.hpp"
#include "cli/log_display.hpp"
#include "cli/output.hpp"
#include "cli/runner.hpp"
#include "clients/http/policy.hpp"
#include "clients/http/rate_limiter.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/logger_manager.hpp"

namespace {

int usage_error(const std::string& message) {
  std::cerr << qorl_cli::output::for_descriptor(
                   STDERR_FILENO, "qorl-multimodal: " + qorl_cli::output::one_line(message))
            << std::endl;
  return qorl_cli::kUsageError;
}

// Which library log lines reach standard error: none unless asked for with -v/-vv or
// QORL_LOG_LEVEL; none at all with -q.
std::optional<qorl_core::LogLevel> shown_log_level(bool quiet, int verbose) {
  if (quiet) return std::nullopt;
  if (verbose >= 2) return qorl_core::LogLevel::DEBUG;
  if (verbose == 1) return qorl_core::LogLevel::INFO;
  if (std::getenv("QORL_LOG_LEVEL") != nullptr) return qorl_core::LoggerManager().root()->level();
  return std::nullopt;
}

// --timeout and --retries become the policy of every service call.
void apply_call_limits(std::optional<double> timeout, std::optional<int> retries) {
  clients::http::CallPolicy policy = clients::http::default_call_policy();
  if (timeout) {
    const std::chrono::milliseconds limit(static_cast<long long>(std::ceil(*timeout * 1000)));
    policy.retry.deadline = limit;
    policy.attempt_timeout = limit;
  }
  if (retries) policy.retry.max_attempts = 1 + *retries;
  clients::http::set_default_call_policy(policy);
}

}  // namespace

int main(int argc, char** argv) {
  qorl_cli::interruption::watch();
  CLI::App app{
      "qorl-multimodal: turn images, audio and video into text for generative-AI applications",
      "qorl-multimodal"};
  app.set_version_flag("--version", std::string(QORL_MULTIMODAL_VERSION));
  app.require_subcommand(0, 1);
  app.fallthrough();
  bool quiet = false;
  int verbose = 0;
  app.add_flag("-q,--quiet", quiet, "No progress line, no warnings, no log lines");
  app.add_flag("-v,--verbose", verbose, "The library's log lines: -v for INFO, -vv for DEBUG");
  std::optional<double> timeout;
  std::optional<int> retries;
  app.add_option("--timeout", timeout,
                 "Seconds each call to a service may take, retries included (default: 600 for a "
                 "model or transcription answer, none in all)")
      ->check(CLI::PositiveNumber & CLI::Range(0.001, 1e6));
  app.add_option("--retries", retries, "Retries of a failed service call (default: 3)")
      ->check(CLI::Range(0, 20));
  std::optional<double> rpm;
  app.add_option("--rpm", rpm,
                 "Requests per minute at most to each model service, spaced evenly (default: as "
                 "fast as the services' own rate-limit signals allow)")
      ->check(CLI::PositiveNumber);
  const std::vector<qorl_cli::commands::Command> commands = {
      qorl_cli::commands::add_caption(app),    qorl_cli::commands::add_mermaid(app),
      qorl_cli::commands::add_transform(app),  qorl_cli::commands::add_video(app),
      qorl_cli::commands::add_transcribe(app), qorl_cli::commands::add_frame(app),
      qorl_cli::commands::add_metadata(app),   qorl_cli::commands::add_store(app),
  };
  app.footer(
      "Exit status: 0 when every source was converted, 1 when any source failed or a result could "
      "not be written, 2 for a usage error (bad option, missing or malformed key, missing "
      "setting), 75 when a service's quota ran out (a rerun with the same --store resumes), "
      "128 + the signal when interrupted (130 for Ctrl-C, 143 for SIGTERM).");
  // Positional sources are required unless a list or a folder gives them; required, they keep
  // an option that takes several values (--alternative-language) from swallowing the last one.
  const bool sources_elsewhere = std::any_of(argv + 1, argv + argc, [](std::string_view arg) {
    return arg.starts_with("--from") || arg.starts_with("--recursive");
  });
  if (!sources_elsewhere) {
    for (const auto& command : commands) {
      if (auto* sources = command.app->get_option_no_throw("sources")) sources->required();
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return usage_error(std::string(e.what()) + " (see --help)");
  }
  qorl_cli::quiet_output = quiet;
  apply_call_limits(timeout, retries);
  // One pace per service, key and model for the whole run: a service's rate-limit signals slow
  // every conversion, not only the one that met them.
  clients::http::RateLimiterOptions pace;
  pace.requests_per_minute = rpm;
  clients::http::set_default_rate_limits(
      std::make_shared<clients::http::RateLimiterRegistry>(pace));
  qorl_cli::log_display::install(shown_log_level(quiet, verbose));
  // What runs killed before they could tidy up left in the temporary directory.
  qorl_core::remove_stale_temporaries();
  for (const auto& command : commands) {
    if (!command.app->parsed()) continue;
    // Conversion failures are reported per source by the runner; what escapes is a setting the
    // command could not use, found before any conversion started.
    try {
      return command.run();
    } catch (const std::exception& e) {
      return usage_error(qorl_cli::output::error_text(e));
    }
  }
  std::cerr << app.help();
  return qorl_cli::kUsageError;
}
