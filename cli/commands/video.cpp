// video: a summary and timed event segments of videos through a multimodal language model.
#include <CLI/CLI.hpp>

#include <memory>
#include <optional>

#include "cli/commands/commands.hpp"
#include "cli/credentials.hpp"
#include "cli/output.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_inference/builder.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/lm_based_video_to_caption.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/preset_video_to_caption.hpp"

namespace qorl_cli::commands {
namespace {

namespace video = qorl_multimodal::modality_converter::video_to_text::video_to_caption;
using video::lm_based_video_to_caption::LMBasedVideoToCaption;

struct VideoArguments {
  SourceArguments common;
  std::string model;
  CaptionHints hints;
  std::optional<std::string> language;
};

const std::map<std::string, std::string> kSourceOptions = {
    {"language", "language"},
    {"one_liner", "image_one_liner"},
    {"description", "image_description"},
    {"domain_knowledge", "domain_knowledge"}};

std::shared_ptr<LMBasedVideoToCaption> make_captioner(const std::string& model) {
  qorl_core::Options invoker_options;
  if (!model.empty()) invoker_options.set("model_id", model);
  auto [invoker, prompt_builder, parser] =
      video::preset_video_to_caption::get_preset_video_to_caption("default", &invoker_options);
  return LMBasedVideoToCaption::from_lm_components(prompt_builder, invoker, parser);
}

// The summary, then one line per segment: its time span and its captions.
std::string as_text(const qorl_core::Value& record) {
  const qorl_core::Map& result = record.as_map();
  std::string text = result.get("result", "").as_string() + "\n";
  const qorl_core::Value metadata = result.get("metadata", qorl_core::Map{});
  const qorl_core::Value segments =
      metadata.is_map() ? metadata.as_map().get("segments", qorl_core::List{}) : qorl_core::List{};
  for (const auto& segment : segments.as_list()) {
    const auto& fields = segment.as_map();
    text += output::timestamp(fields.get("start_time", 0.0).as_double(), '.') + " --> " +
            output::timestamp(fields.get("end_time", 0.0).as_double(), '.');
    const qorl_core::Value captions = fields.get("segment_caption", qorl_core::List{});
    for (const auto& caption : captions.as_list()) text += "  " + caption.as_string();
    text += "\n";
  }
  return text;
}

int run(const VideoArguments& args) {
  credentials::require_model_key(preset_model(args.model, "DEFAULT_VIDEO_CAPTIONING_MODEL_ID"),
                                 "video captioning");
  qorl_core::Options options;
  args.hints.add_to(options);
  if (args.language) options.set("language", *args.language);
  batch::cache_key::Request request{
      .subcommand = "video",
      .model = preset_model(args.model, "DEFAULT_VIDEO_CAPTIONING_MODEL_ID"),
      .options = options};
  Job job = converter_job(make_captioner(args.model), options, "video caption",
                          std::move(request), kSourceOptions, as_text);
  return run_jobs(args.common.sources, std::move(job), args.common.run);
}

}  // namespace

Command add_video(CLI::App& app) {
  auto args = std::make_shared<VideoArguments>();
  auto* command = app.add_subcommand("video", "Caption videos: a summary and timed event segments");
  add_source_arguments(
      *command, args->common,
      "Videos: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  add_batch_options(*command, args->common.run);
  add_model_option(*command, args->model, "DEFAULT_VIDEO_CAPTIONING_MODEL_ID");
  add_caption_hint_options(*command, args->hints, "video");
  command->add_option("--language", args->language,
                      "Language of the summary and captions (default Indonesian)");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
