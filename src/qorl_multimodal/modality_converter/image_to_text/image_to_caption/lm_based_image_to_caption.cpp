#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"

#include "qorl_multimodal/constants.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/preset_image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/model_call_guard.hpp"
#include "qorl_multimodal/modality_converter/prompt_params.hpp"
#include "qorl_multimodal/utils/sendable_media.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    lm_based_image_to_caption {

using constants::CaptionConstants;
using constants::ImageToTextConstants;
using qorl_inference::Attachment;

std::unique_ptr<LMBasedImageToCaption> LMBasedImageToCaption::from_preset(
    const std::optional<std::string>& preset_name, const qorl_core::Options& options) {
  auto [lm_invoker, prompt_builder, output_parser] =
      preset_image_to_caption::get_preset_image_to_caption(preset_name);
  return from_lm_components(std::move(prompt_builder), std::move(lm_invoker),
                            std::move(output_parser), options);
}

boost::asio::awaitable<std::vector<std::string>> LMBasedImageToCaption::_get_captions(
    qorl_core::Bytes image_binary, std::string filename, std::shared_ptr<Caption> caption_data,
    qorl_core::Options options) {
  // Outside the guard: an image the service cannot take is an error, not an empty answer.
  std::vector<std::shared_ptr<Attachment>> attachments{
      Attachment::from_bytes(std::move(image_binary))};
  attachments.insert(attachments.end(), caption_data->attachments_context.begin(),
                     caption_data->attachments_context.end());
  utils::sendable_media::convert_undocumented_images(attachments);

  auto watcher = qorl_inference::EventEmitter::from_value(options.get("event_emitter", {}));
  auto guarded = model_call_guard::guard_model_call<std::vector<std::string>>(
      _logger(), "Failed to generate captions will return empty list, details: ", watcher,
      [&]() -> boost::asio::awaitable<std::vector<std::string>> {
        const std::int64_t number_of_captions = caption_data->number_of_captions;
        auto prompt_params = prompt_params::caption_prompt_params(
            filename.empty() ? std::string(ImageToTextConstants::NO_IMAGE_FILENAME) : filename,
            *caption_data, *lm_request_processor);

        const qorl_core::Value response = co_await lm_request_processor->process(
            std::move(prompt_params), std::move(attachments), watcher);

        std::vector<std::string> captions;
        const auto& answer =
            response.as_map().at(CaptionConstants::CAPTION_DEFAULT_JSON_KEY).as_list();
        for (const auto& caption : answer) captions.push_back(caption.as_string());
        if (static_cast<std::int64_t>(captions.size()) < number_of_captions) {
          _logger().debug("Generated " + std::to_string(captions.size()) +
                          " captions, but expected " + std::to_string(number_of_captions));
        }
        co_return captions;
      });
  co_return co_await std::move(guarded);
}

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption
