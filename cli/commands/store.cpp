// store: what a results store holds: its totals, its results as JSON Lines, its failures.
#include <CLI/CLI.hpp>

#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/commands/commands.hpp"
#include "cli/exit_status.hpp"
#include "cli/output.hpp"
#include "qorl_multimodal/batch/store.hpp"

namespace qorl_cli::commands {
namespace {

namespace store = qorl_multimodal::batch::store;
namespace usage = qorl_multimodal::batch::usage;

struct StoreArguments {
  std::string path;
  bool export_results = false;
  bool failed = false;
};

// "1,200 done, 3 failed; 1.2M tokens in, 80k out; 41.5 audio hours; 2 in progress"; the parts
// that are zero are left out, batch-mode results counted apart since they are priced apart.
std::string totals_line(const store::Totals& totals) {
  std::string line = usage::format_count(totals.done()) + " done";
  if (totals.batch.done > 0)
    line += " (" + usage::format_count(totals.batch.done) + " in batch mode)";
  line += ", " + usage::format_count(totals.failed()) + " failed";
  const usage::Usage spent = totals.usage();
  if (spent.input_tokens > 0 || spent.output_tokens > 0) {
    line += "; " + usage::format_tokens(spent.input_tokens) + " tokens in, " +
            usage::format_tokens(spent.output_tokens) + " out";
  }
  if (spent.audio_seconds > 0) line += "; " + usage::format_audio(spent.audio_seconds);
  if (totals.in_progress > 0)
    line += "; " + usage::format_count(totals.in_progress) + " in progress";
  if (totals.interrupted > 0) {
    line += "; " + usage::format_count(totals.interrupted) + " interrupted";
  }
  if (totals.in_batch > 0) {
    line += "; " + usage::format_count(totals.in_batch) + " waiting in batch jobs";
  }
  return line;
}

int run(const StoreArguments& args) {
  try {
    store::Store::Options reading;
    reading.read_only = true;
    const store::Store results = store::Store::open(args.path, reading);
    if (args.export_results) {
      results.export_results(std::cout);
    } else if (args.failed) {
      for (const store::Row& row : results.failures()) {
        std::cout << output::for_descriptor(STDOUT_FILENO,
                                            output::one_line(row.source) + ": " +
                                                output::one_line(row.error.value_or("")))
                  << "\n";
      }
    } else {
      std::cout << totals_line(results.totals()) << "\n";
    }
    std::cout.flush();
    return std::cout ? kSuccess : kConversionFailed;
  } catch (const store::StoreError& error) {
    std::cerr << "qorl-multimodal: " << output::one_line(output::error_text(error)) << std::endl;
    return kConversionFailed;
  }
}

}  // namespace

Command add_store(CLI::App& app) {
  auto args = std::make_shared<StoreArguments>();
  auto* command =
      app.add_subcommand("store", "Show a results store: its totals, results or failures");
  command->add_option("path", args->path, "The store (an SQLite file made by --store)")
      ->required()
      ->check(CLI::ExistingFile);
  auto* export_results = command->add_flag(
      "--export", args->export_results,
      "Write every result as a JSON line {\"source\", \"id\", \"key\", \"result\"}");
  command->add_flag("--failed", args->failed, "List the failures with their errors")
      ->excludes(export_results);
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
