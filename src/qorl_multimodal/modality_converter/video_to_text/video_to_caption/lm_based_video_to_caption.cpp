#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/lm_based_video_to_caption.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_inference/event_emitter.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_multimodal/modality_converter/prompt_params.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/preset_video_to_caption.hpp"
#include "qorl_multimodal/utils/sendable_media.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::
    lm_based_video_to_caption {

using qorl_inference::Attachment;

namespace {

// The summary stays empty; whoever watches the conversion learns why.
void watch_failure(const qorl_core::Options& options, const std::exception_ptr& failure) {
  if (auto watcher = qorl_inference::EventEmitter::from_value(options.get("event_emitter", {}))) {
    watcher->emit_error(failure);
  }
}

}  // namespace

std::unique_ptr<LMBasedVideoToCaption> LMBasedVideoToCaption::from_preset(
    const std::optional<std::string>& preset_name, const qorl_core::Options& options) {
  auto [lm_invoker, prompt_builder, output_parser] =
      preset_video_to_caption::get_preset_video_to_caption(preset_name);
  return from_lm_components(std::move(prompt_builder), std::move(lm_invoker),
                            std::move(output_parser), options);
}

qorl_core::Map LMBasedVideoToCaption::_build_prompt_params(const Attachment& video_attachment,
                                                           const Caption& caption_data) const {
  std::string filename =
      video_attachment.filename.empty() ? std::string(DEFAULT_FILENAME) : video_attachment.filename;
  return prompt_params::caption_prompt_params(std::move(filename), caption_data,
                                              *lm_request_processor);
}

boost::asio::awaitable<qorl_core::Value> LMBasedVideoToCaption::_get_captions(
    std::shared_ptr<Attachment> video_attachment, std::shared_ptr<Caption> caption_data,
    qorl_core::Options options) {
  // Outside the guard below: a video the service cannot take is an error, not an empty answer.
  video_attachment = co_await utils::sendable_media::sendable_video(std::move(video_attachment));
  qorl_core::Value response = qorl_core::Map{};  // stays empty when the request fails
  try {
    auto prompt_params = _build_prompt_params(*video_attachment, *caption_data);
    std::vector<std::shared_ptr<Attachment>> extra_contents{std::move(video_attachment)};
    extra_contents.insert(extra_contents.end(), caption_data->attachments_context.begin(),
                          caption_data->attachments_context.end());
    auto event_emitter = qorl_inference::EventEmitter::from_value(options.get("event_emitter", {}));
    response = co_await lm_request_processor->process(
        std::move(prompt_params), std::move(extra_contents), std::move(event_emitter));
  } catch (const qorl_core::ValueError& error) {
    _logger().error(std::string("Invalid video data: ") + error.what());
    throw;
  } catch (const qorl_inference::BaseInvokerError& error) {
    _logger().error(std::string("Failed to generate captions: ") + error.what());
    watch_failure(options, std::current_exception());
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    _logger().exception(std::string("Unexpected error during caption generation: ") + error.what());
    watch_failure(options, std::current_exception());
  }
  co_return response;
}

}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::lm_based_video_to_caption
