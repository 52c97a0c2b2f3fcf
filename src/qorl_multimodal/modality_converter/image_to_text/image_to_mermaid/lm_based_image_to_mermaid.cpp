#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"

#include <vector>

#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/preset_image_to_mermaid.hpp"
#include "qorl_multimodal/modality_converter/model_call_guard.hpp"
#include "qorl_multimodal/modality_converter/prompt_params.hpp"
#include "qorl_multimodal/utils/sendable_media.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::
    lm_based_image_to_mermaid {

std::unique_ptr<LMBasedImageToMermaid> LMBasedImageToMermaid::from_preset(
    const std::optional<std::string>& preset_name, qorl_core::Options* lm_invoker_kwargs,
    qorl_core::Options* prompt_builder_kwargs, const qorl_core::Options& options) {
  auto [lm_invoker, prompt_builder, output_parser] =
      preset_image_to_mermaid::get_preset_image_to_mermaid(preset_name, lm_invoker_kwargs,
                                                           prompt_builder_kwargs);
  return from_lm_components(std::move(prompt_builder), std::move(lm_invoker),
                            std::move(output_parser), options);
}

boost::asio::awaitable<std::string> LMBasedImageToMermaid::_get_mermaid(
    qorl_core::Bytes image_binary, std::shared_ptr<Mermaid> mermaid_data,
    qorl_core::Options options) {
  // Outside the guard: an image the service cannot take is an error, not an empty answer.
  std::vector<std::shared_ptr<qorl_inference::Attachment>> extra_contents{
      qorl_inference::Attachment::from_bytes(std::move(image_binary))};
  utils::sendable_media::convert_undocumented_images(extra_contents);

  auto watcher = qorl_inference::EventEmitter::from_value(options.get("event_emitter", {}));
  auto guarded = model_call_guard::guard_model_call<std::string>(
      _logger(), "Failed to generate mermaid syntax: ", watcher,
      [&]() -> boost::asio::awaitable<std::string> {
        auto prompt_kwargs =
            prompt_params::select_prompt_params(mermaid_data->to_map(), *lm_request_processor);
        auto request = lm_request_processor->process(std::move(prompt_kwargs),
                                                     std::move(extra_contents), watcher);
        const qorl_core::Value response = co_await std::move(request);
        // Without an output parser the answer is text; a parser's non-text value is a failure.
        co_return response.is_none() ? std::string() : response.as_string();
      });
  co_return co_await std::move(guarded);
}

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::lm_based_image_to_mermaid
