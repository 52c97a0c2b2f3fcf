// transform: an image to text through the converter a model-based router picks for it.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>

#include "cli/commands/commands.hpp"
#include "cli/credentials.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"

namespace qorl_cli::commands {
namespace {

using qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::standard_image_modality_transformer::
        StandardImageModalityTransformer;

struct TransformArguments {
  SourceArguments common;
  std::optional<std::string> query;
  bool skip_routing = false;
};

boost::asio::awaitable<batch::runner::Conversion> transform_one(
    std::shared_ptr<StandardImageModalityTransformer> transformer, qorl_core::Value query,
    qorl_core::Options options, batch::runner::ResolvedSource source) {
  const qorl_core::Value media = converter_source(source);
  const batch::converter_run::ConversionWatch watch;
  options.set("event_emitter", watch.emitter());
  qorl_core::Value text = co_await transformer->transform(media, query, options);
  // The routed converters answer a failed model request with an empty text.
  if (!text.is_string() || text.as_string().empty()) {
    qorl_core::throw_with_cause(batch::converter_run::nothing_generated("text"), watch.failure());
  }
  co_return batch::runner::Conversion{.record = std::move(text), .usage = watch.usage()};
}

int run(const TransformArguments& args) {
  // The router is a Gemini model; the captioning route uses the captioning model.
  credentials::require_env({"GEMINI_API_KEY", "GOOGLE_API_KEY"}, "routing");
  credentials::require_model_key(preset_model("", "DEFAULT_IMAGE_CAPTIONING_MODEL_ID"),
                                 "captioning");
  const qorl_core::Value query = args.query ? qorl_core::Value(*args.query) : qorl_core::Value();
  qorl_core::Options options;
  if (args.skip_routing) options.set("skip_routing", true);
  qorl_core::Options keyed = options;
  keyed.set("query", query);
  Job job{.convert =
              [transformer = std::shared_ptr(
                   StandardImageModalityTransformer::from_preset("domain_specific")),
               query, options](batch::runner::ResolvedSource source) {
                return transform_one(transformer, query, options, std::move(source));
              },
          .render =
              [](const qorl_core::Value& record) {
                return Outcome{record.as_string(), record, {}};
              },
          .request = {.subcommand = "transform",
                      .model = preset_model("", "DEFAULT_IMAGE_CAPTIONING_MODEL_ID"),
                      .options = std::move(keyed)}};
  return run_jobs(args.common.sources, std::move(job), args.common.run);
}

}  // namespace

Command add_transform(CLI::App& app) {
  auto args = std::make_shared<TransformArguments>();
  auto* command = app.add_subcommand(
      "transform",
      "Turn images into text through the converter a router picks (captions or Mermaid)");
  add_source_arguments(
      *command, args->common,
      "Images: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  command->add_option("--query", args->query, "A query to guide the transformation");
  command->add_flag("--skip-routing", args->skip_routing,
                    "Use the router's default route (captioning)");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
