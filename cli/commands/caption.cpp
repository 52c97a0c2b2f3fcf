// caption: captions for images through a multimodal language model.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>

#include "cli/commands/commands.hpp"
#include "cli/credentials.hpp"
#include "qorl_inference/builder.hpp"
#include "qorl_inference/prompt_builder.hpp"
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
  std::optional<std::string> language;
};

// The preset's prompt asks for Indonesian captions in so many words; another language takes the
// captioners' `language` variable in its place.
std::shared_ptr<qorl_inference::PromptBuilder> in_language(
    const qorl_inference::PromptBuilder& preset) {
  std::string system = preset.system_template();
  const std::string fixed = "in Indonesian";
  if (const auto at = system.find(fixed); at != std::string::npos)
    system.replace(at, fixed.size(), "in {language}");
  return std::make_shared<qorl_inference::PromptBuilder>(system, preset.user_template());
}

std::shared_ptr<LMBasedImageToCaption> make_captioner(const CaptionArguments& args) {
  auto [invoker, prompt_builder, parser] =
      caption::preset_image_to_caption::get_preset_image_to_caption("default");
  if (!args.model.empty()) invoker = qorl_inference::build_lm_invoker(args.model);
  if (args.language) prompt_builder = in_language(*prompt_builder);
  return LMBasedImageToCaption::from_lm_components(prompt_builder, invoker, parser);
}

int run(const CaptionArguments& args) {
  credentials::require_model_key(preset_model(args.model, "DEFAULT_IMAGE_CAPTIONING_MODEL_ID"),
                                 "captioning");
  qorl_core::Options options;
  if (args.captions) options.set("number_of_captions", *args.captions);
  args.hints.add_to(options);
  if (args.no_metadata) options.set("use_metadata", false);
  if (args.language) options.set("language", *args.language);
  batch::cache_key::Request request{
      .subcommand = "caption",
      .model = preset_model(args.model, "DEFAULT_IMAGE_CAPTIONING_MODEL_ID"),
      .options = options};
  return run_jobs(args.common.sources,
                  converter_job(make_captioner(args), options, "caption", std::move(request),
                                {{"captions", "number_of_captions"},
                                 {"language", "language"},
                                 {"one_liner", "image_one_liner"},
                                 {"description", "image_description"},
                                 {"domain_knowledge", "domain_knowledge"}}),
                  args.common.run);
}

}  // namespace

Command add_caption(CLI::App& app) {
  auto args = std::make_shared<CaptionArguments>();
  auto* command = app.add_subcommand("caption", "Caption images with a multimodal language model");
  add_source_arguments(
      *command, args->common,
      "Images: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  add_batch_options(*command, args->common.run);
  add_model_option(*command, args->model, "DEFAULT_IMAGE_CAPTIONING_MODEL_ID");
  command->add_option("-n,--captions", args->captions, "Number of captions to ask for (default 5)")
      ->check(whole_number(1, 100));
  command->add_option("--language", args->language,
                      "Language of the captions (default Indonesian)");
  add_caption_hint_options(*command, args->hints, "image");
  command->add_flag("--no-metadata", args->no_metadata, "Do not send the image's EXIF location");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
