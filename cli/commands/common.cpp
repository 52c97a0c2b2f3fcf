#include <CLI/CLI.hpp>

#include <filesystem>

#include "cli/commands/commands.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_multimodal/modality_converter/preset_options.hpp"

namespace qorl_cli::commands {

namespace preset_options = qorl_multimodal::modality_converter::preset_options;

const CLI::Validator NON_BLANK(
    [](const std::string& source) -> std::string {
      return source.find_first_not_of(" \t\r\n\v\f") == std::string::npos ? "a source is blank" : "";
    },
    "SOURCE");

void add_source_arguments(CLI::App& command, SourceArguments& arguments, const std::string& what) {
  command.add_option("sources", arguments.sources, what)->required()->check(NON_BLANK);
  command.add_flag("--json", arguments.run.json, "Write one JSON line per source with the full record");
  command.add_option("-j,--jobs", arguments.run.jobs, "Convert up to N sources at a time")
      ->check(CLI::PositiveNumber)
      ->default_val(1);
}

void CaptionHints::add_to(qorl_core::Options& options) const {
  if (one_liner) options.set("image_one_liner", *one_liner);
  if (description) options.set("image_description", *description);
  if (domain_knowledge) options.set("domain_knowledge", *domain_knowledge);
}

void add_caption_hint_options(CLI::App& command, CaptionHints& hints, const std::string& medium) {
  command.add_option("--one-liner", hints.one_liner, "A one-line title of the " + medium);
  command.add_option("--description", hints.description, "A description of the " + medium);
  command.add_option("--domain-knowledge", hints.domain_knowledge, "Knowledge of the " + medium + "'s domain");
}

void require_file_if_path(const std::string& source) {
  if (source.find("://") != std::string::npos) return;
  if (source.find_first_of("./") == std::string::npos) return;
  std::error_code error;
  if (!std::filesystem::exists(source, error)) {
    throw qorl_core::FileNotFoundError("No such file: " + source);
  }
}

void add_model_option(CLI::App& command, std::string& model, const char* model_env) {
  const std::string fallback = std::string(preset_options::DEFAULT_MODEL_ID);
  command.add_option("--model", model,
                     "Model id <provider>/<model> (default: " +
                         (model_env ? std::string(model_env) + ", else " + fallback : fallback) + ")");
}

std::string preset_model(const std::string& model_id, const char* model_env) {
  if (!model_id.empty()) return model_id;
  if (model_env) return preset_options::model_id_from_environment(model_env);
  return std::string(preset_options::DEFAULT_MODEL_ID);
}

}  // namespace qorl_cli::commands
