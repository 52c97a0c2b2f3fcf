#include <CLI/CLI.hpp>

#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "cli/commands/commands.hpp"
#include "clients/common/url.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_multimodal/modality_converter/preset_options.hpp"

namespace qorl_cli::commands {

namespace preset_options = qorl_multimodal::modality_converter::preset_options;

const CLI::Validator NON_BLANK(
    [](const std::string& source) -> std::string {
      return source.find_first_not_of(" \t\r\n\v\f") == std::string::npos ? "a source is blank"
                                                                          : "";
    },
    "SOURCE");

void add_source_arguments(CLI::App& command, SourceArguments& arguments, const std::string& what,
                          const std::string& extension) {
  SourceSelection& selection = arguments.run.selection;
  auto* sources = command.add_option("sources", arguments.sources, what)->check(NON_BLANK);
  auto* lists = command.add_option(
      "--from", selection.lists,
      "Read sources from FILE (- for standard input): one per line, or JSON lines "
      "{\"source\", \"id\", options}; blank and # lines skipped");
  auto* folders = command.add_option("--recursive", selection.folders,
                                     "Take every file below DIR (see --include, --exclude)");
  command.add_option("--include", selection.filter.include,
                     "With --recursive: only files matching GLOB (repeatable)");
  command.add_option("--exclude", selection.filter.exclude,
                     "With --recursive: leave out files and folders matching GLOB (repeatable)");
  // At least one place to take sources from.
  command.callback([sources, lists, folders] {
    if (sources->count() + lists->count() + folders->count() == 0) {
      throw CLI::RequiredError("sources (or --from, --recursive)");
    }
  });
  command.add_option("--store", selection.store,
                     "Keep every result in the SQLite database PATH: a rerun skips what is done "
                     "and resumes what is not");
  command.add_flag("--retry-failed", selection.retry_failed,
                   "With --store: convert the stored failures again");
  command.add_flag("--refresh", selection.refresh,
                   "With --store: convert everything again and replace the stored results");
  command.add_flag(
      "--json", arguments.run.report.json,
      "Write one JSON line per source: {\"source\", \"result\"} or {\"source\", \"error\"}");
  command.add_option("-j,--jobs", arguments.run.jobs, "Convert up to N sources at a time")
      ->check(whole_number(1, 1024))
      ->default_val(1);
  command.add_flag("--keep-order", arguments.run.report.keep_order,
                   "Write results in the order of the sources, also with --jobs");
  arguments.run.report.extension = extension;
  command.add_option("--output-dir", arguments.run.report.output_dir,
                     "Write one file per source into DIR, named after the source (" +
                         extension.substr(1) + ", or json with --json); made when missing");
}

void add_batch_options(CLI::App& command, RunSettings& settings) {
  // Requests wait together in a batch: many in flight unless --jobs says otherwise.
  const auto* jobs = command.get_option("--jobs");
  const auto choose = [&settings, jobs](BatchSettings::Mode mode) {
    settings.batch.mode = mode;
    if (jobs->count() == 0) settings.jobs = kBatchJobs;
  };
  auto* attached = command.add_flag_callback(
      "--batch", [choose] { choose(BatchSettings::Mode::attached); },
      "Send the Gemini requests through batch mode: half the price, answered within hours");
  command
      .add_flag_callback(
          "--batch-detach", [choose] { choose(BatchSettings::Mode::detached); },
          "As --batch, but submit and exit (status 75 while results are pending); the same "
          "command with the same --store collects them")
      ->needs("--store")
      ->excludes(attached);
  command
      .add_option_function<double>(
          "--batch-poll",
          [&settings](double seconds) {
            settings.batch.first_poll = std::chrono::milliseconds(std::llround(seconds * 1000));
          },
          "First wait between reads of a batch's state, growing to 5 minutes (default 10)")
      ->check(CLI::Range(0.01, 3600.0));
  command
      .add_option_function<int>(
          "--batch-deadline",
          [&settings](int hours) { settings.batch.deadline = std::chrono::hours(hours); },
          "Hours to wait for a batch before cancelling it (default 24)")
      ->check(whole_number(1, 48));
}

CLI::Validator whole_number(long long low, long long high) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](const std::string& text) -> std::string {
        long long value = 0;
        const bool whole = CLI::detail::lexical_cast(text, value);
        return whole && value >= low && value <= high ? "" : "must be a whole number from " + range;
      },
      "INT in " + range);
}

void CaptionHints::add_to(qorl_core::Options& options) const {
  if (one_liner) options.set("image_one_liner", *one_liner);
  if (description) options.set("image_description", *description);
  if (domain_knowledge) options.set("domain_knowledge", *domain_knowledge);
}

void add_caption_hint_options(CLI::App& command, CaptionHints& hints, const std::string& medium) {
  command.add_option("--one-liner", hints.one_liner, "A one-line title of the " + medium);
  command.add_option("--description", hints.description, "A description of the " + medium);
  command.add_option("--domain-knowledge", hints.domain_knowledge,
                     "Knowledge of the " + medium + "'s domain");
}

namespace {

// A one-letter scheme is a drive letter.
bool has_scheme(const std::string& source) {
  const auto scheme = clients::common::url_scheme(source);
  return scheme && scheme->size() > 1;
}

}  // namespace

void refuse_empty_file(const std::string& source) {
  if (has_scheme(source)) return;
  std::error_code error;
  if (std::filesystem::is_regular_file(source, error) &&
      std::filesystem::file_size(source, error) == 0) {
    throw std::runtime_error("empty file");
  }
}

void require_file_if_path(const std::string& source) {
  refuse_empty_file(source);
  if (has_scheme(source) || source.find_first_of("./") == std::string::npos) return;
  if (qorl_core::base64_decode(source)) return;
  std::error_code error;
  if (!std::filesystem::exists(source, error)) {
    throw qorl_core::FileNotFoundError("No such file: " + source);
  }
}

void add_model_option(CLI::App& command, std::string& model, const char* model_env) {
  const std::string fallback = std::string(preset_options::DEFAULT_MODEL_ID);
  command.add_option("--model", model,
                     "Model id <provider>/<model> (default: " +
                         (model_env ? std::string(model_env) + ", else " + fallback : fallback) +
                         ")");
}

std::string preset_model(const std::string& model_id, const char* model_env) {
  if (!model_id.empty()) return model_id;
  if (model_env) return preset_options::model_id_from_environment(model_env);
  return std::string(preset_options::DEFAULT_MODEL_ID);
}

}  // namespace qorl_cli::commands
