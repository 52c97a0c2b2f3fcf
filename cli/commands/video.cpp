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

std::shared_ptr<LMBasedVideoToCaption> make_captioner(const std::string& model) {
  qorl_core::Options invoker_options;
  if (!model.empty()) invoker_options.set("model_id", model);
  auto [invoker, prompt_builder, parser] =
      video::preset_video_to_caption::get_preset_video_to_caption("default", &invoker_options);
  return LMBasedVideoToCaption::from_lm_components(prompt_builder, invoker, parser);
}

// The summary, then one line per segment: its time span and its captions.
std::string as_text(
    const qorl_multimodal::modality_converter::schema::text_result::TextResult& result) {
  std::string text = result.result + "\n";
  const qorl_core::Value segments = result.metadata.as_map().get("segments", qorl_core::List{});
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

boost::asio::awaitable<Outcome> caption_one(std::shared_ptr<LMBasedVideoToCaption> captioner,
                                            qorl_core::Options options, std::string source) {
  require_file_if_path(source);
  std::optional<qorl_multimodal::modality_converter::schema::text_result::TextResult> result;
  try {
    result = co_await captioner->convert(source, options);
  } catch (const qorl_core::ValidationError&) {
    // A failed model request leaves an answer without a summary, which the records refuse.
    throw nothing_generated("video caption");
  }
  co_return Outcome{as_text(*result), result->to_map(), {}};
}

int run(const VideoArguments& args) {
  credentials::require_model_key(preset_model(args.model, "DEFAULT_VIDEO_CAPTIONING_MODEL_ID"),
                                 "video captioning");
  qorl_core::Options options;
  args.hints.add_to(options);
  if (args.language) options.set("language", *args.language);
  return run_jobs(
      args.common.sources,
      [&]() -> Job {
        return [captioner = make_captioner(args.model), options](std::string source) {
          return caption_one(captioner, options, std::move(source));
        };
      },
      args.common.run);
}

}  // namespace

Command add_video(CLI::App& app) {
  auto args = std::make_shared<VideoArguments>();
  auto* command = app.add_subcommand("video", "Caption videos: a summary and timed event segments");
  add_source_arguments(
      *command, args->common,
      "Videos: paths, http(s) URLs, s3:// locations, Google Drive links or base64");
  add_model_option(*command, args->model, "DEFAULT_VIDEO_CAPTIONING_MODEL_ID");
  add_caption_hint_options(*command, args->hints, "video");
  command->add_option("--language", args->language,
                      "Language of the summary and captions (default Indonesian)");
  return {command, [args] { return run(*args); }};
}

}  // namespace qorl_cli::commands
