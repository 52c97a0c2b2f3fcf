// mermaid: Mermaid diagram code for diagram images through a multimodal language model.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>

#include "cli/commands/commands.hpp"
#include "cli/credentials.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"

namespace qorl_cli::commands {
namespace {

using qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::
    lm_based_image_to_mermaid::LMBasedImageToMermaid;

struct MermaidArguments {
  SourceArguments common;
  std::string model;
  std::optional<std::string> diagram_type;
  std::optional<std::string> context;
};

std::shared_ptr<LMBasedImageToMermaid> make_converter(const std::string& model) {
  qorl_core::Options invoker_options;
  if (!model.empty()) invoker_options.set("model_id", model);
  return LMBasedImageToMermaid::from_preset("default", &invoker_options);
}

int run(const MermaidArguments& args) {
  credentials::require_model_key(preset_model(args.model), "Mermaid generation");
  qorl_core::Options options;
  if (args.diagram_type) options.set("diagram_type", *args.diagram_type);
  if (args.context) options.set("context", *args.context);
  batch::cache_key::Request request{
      .subcommand = "mermaid", .model = preset_model(args.model), .options = options};
  return run_jobs(
      args.common.sources,
      converter_job(make_converter(args.model), options, "Mermaid code", std::move(request),
                    {{"diagram_type", "diagram_type"}, {"context", "context"}}),
      args.common.run);
}

}  // namespace

Command add_mermaid(CLI::App& app) {
  auto args = std::make_shared<MermaidArguments>();
  auto* command = app.add_subcommand("mermaid", "Turn diagram images into Mermaid code");
  add_source_arguments(
      *command, args->common,
      "Images: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  add_batch_options(*command, args->common.run);
  add_model_option(*command, args->model);
  command->add_option("--diagram-type", args->diagram_type, "Type of the diagram to generate");
  command->add_option("--context", args->context, "Further context for the diagram");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
