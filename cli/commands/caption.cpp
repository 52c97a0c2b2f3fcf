// caption: captions for images through a multimodal language model.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>

#include "cli/commands/commands.hpp"
#include "cli/credentials.hpp"
#include "qorl_inference/builder.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/preset_image_to_caption.hpp"

namespace qorl_cli::commands {
namespace {

namespace caption = qorl_multimodal::modality_converter::image_to_text::image_to_caption;
using caption::lm_based_image_to_caption::LMBasedImageToCaption;

struct CaptionArguments {
  SourceArguments common;
  std::string model;
  CaptionHints hints;
  std::optional<int> captions;
  bool no_metadata = false;
};

std::shared_ptr<LMBasedImageToCaption> make_captioner(const std::string& model) {
  auto [invoker, prompt_builder, parser] =
      caption::preset_image_to_caption::get_preset_image_to_caption("default");
  if (!model.empty()) invoker = qorl_inference::build_lm_invoker(model);
  return LMBasedImageToCaption::from_lm_components(prompt_builder, invoker, parser);
}

int run(const CaptionArguments& args) {
  credentials::require_model_key(preset_model(args.model, "DEFAULT_IMAGE_CAPTIONING_MODEL_ID"), "captioning");
  qorl_core::Options options;
  if (args.captions) options.set("number_of_captions", *args.captions);
  args.hints.add_to(options);
  if (args.no_metadata) options.set("use_metadata", false);
  return run_jobs(args.common.sources, [&]() -> Job {
    return converter_job(make_captioner(args.model), options, "caption");
  }, args.common.run);
}

}  // namespace

Command add_caption(CLI::App& app) {
  auto args = std::make_shared<CaptionArguments>();
  auto* command = app.add_subcommand("caption", "Caption images with a multimodal language model");
  add_source_arguments(*command, args->common,
                       "Images: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  add_model_option(*command, args->model, "DEFAULT_IMAGE_CAPTIONING_MODEL_ID");
  command->add_option("-n,--captions", args->captions, "Number of captions to ask for")
      ->check(CLI::PositiveNumber);
  add_caption_hint_options(*command, args->hints, "image");
  command->add_flag("--no-metadata", args->no_metadata, "Do not send the image's EXIF location");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
