// The subcommands: each adds itself to the application and returns what runs it once parsed.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/runner.hpp"
#include "qorl_multimodal/batch/converter_run.hpp"
#include "qorl_multimodal/modality_converter/modality_converter.hpp"

namespace CLI {
class App;
class Validator;
}  // namespace CLI

namespace qorl_cli::commands {

struct Command {
  CLI::App* app;
  std::function<int()> run;  // the exit status
};

Command add_caption(CLI::App& app);
Command add_mermaid(CLI::App& app);
Command add_transform(CLI::App& app);
Command add_video(CLI::App& app);
Command add_transcribe(CLI::App& app);
Command add_frame(CLI::App& app);
Command add_metadata(CLI::App& app);
Command add_store(CLI::App& app);

// Refuses a source that is empty or only blanks.
extern const CLI::Validator NON_BLANK;

// The positional sources with --from, --recursive, --include, --exclude, --store,
// --retry-failed, --refresh, --json, --jobs, --keep-order and --output-dir, shared by the
// subcommands that take several. `extension` names the files --output-dir writes text results to.
struct SourceArguments {
  std::vector<std::string> sources;
  RunSettings run;
};
void add_source_arguments(CLI::App& command, SourceArguments& arguments, const std::string& what,
                          const std::string& extension = ".txt");

// --batch, --batch-detach, --batch-poll and --batch-deadline, after add_source_arguments.
// Without --jobs, a batch run keeps kBatchJobs sources in flight: they wait together in a batch.
inline constexpr int kBatchJobs = 1000;
void add_batch_options(CLI::App& command, RunSettings& settings);

// A whole number from `low` to `high`, with a message that says so.
CLI::Validator whole_number(long long low, long long high);

// What a caller knows of the media, sent to a captioning model: --one-liner, --description,
// --domain-knowledge.
struct CaptionHints {
  std::optional<std::string> one_liner;
  std::optional<std::string> description;
  std::optional<std::string> domain_knowledge;

  // The hints given, under the captioners' option names.
  void add_to(qorl_core::Options& options) const;
};
void add_caption_hint_options(CLI::App& command, CaptionHints& hints, const std::string& medium);

// "empty file" for a source without a scheme that names an empty file, which the library would
// go on to read as some other kind of source and refuse as that.
void refuse_empty_file(const std::string& source);

// refuse_empty_file, and FileNotFoundError for a source that is plainly a path to a local file
// that does not exist: no scheme (URLs, data URIs), not base64 text, and a dot or a slash in it.
// Every other source is left to the library's own resolution.
void require_file_if_path(const std::string& source);

// The job of a converter with a TextResult: see batch::converter_run for `options`,
// `source_options` and the failures; `render` gives a record's text (default: its "result").
Job converter_job(
    std::shared_ptr<qorl_multimodal::modality_converter::modality_converter::BaseModalityConverter>
        converter,
    qorl_core::Options options, std::string what, batch::cache_key::Request request,
    std::map<std::string, std::string> source_options,
    std::function<std::string(const qorl_core::Value& record)> render = {});

// The source as a converter takes it: the bytes the run read, else the text (refused at once when
// it is plainly a missing file, see require_file_if_path).
qorl_core::Value converter_source(const batch::runner::ResolvedSource& source);

// --model: the model id <provider>/<model> overriding the preset's, which the environment
// variable `model_env` (when given) names, else the presets' default model.
void add_model_option(CLI::App& command, std::string& model, const char* model_env = nullptr);

// The model a preset uses: `model_id`, else the one the environment variable `model_env` (when
// given) names, else the presets' default model.
std::string preset_model(const std::string& model_id, const char* model_env = nullptr);

}  // namespace qorl_cli::commands
