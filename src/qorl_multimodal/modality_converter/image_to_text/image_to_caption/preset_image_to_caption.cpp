#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/preset_image_to_caption.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_inference/builder.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    preset_image_to_caption {

std::shared_ptr<qorl_inference::PromptBuilder> create_default_prompt_builder() {
  return std::make_shared<qorl_inference::PromptBuilder>(std::string(DEFAULT_SYSTEM_PROMPT),
                                                         std::string(DEFAULT_USER_PROMPT));
}

PresetComponents get_preset_image_to_caption(const std::optional<std::string>& preset_name) {
  if (preset_name && *preset_name != "default") {
    throw qorl_core::ValueError("Invalid preset name: " + *preset_name);
  }
  auto lm_invoker = qorl_inference::build_lm_invoker(
      preset_options::model_id_from_environment("DEFAULT_IMAGE_CAPTIONING_MODEL_ID"));
  auto prompt_builder = create_default_prompt_builder();
  return {std::move(lm_invoker), std::move(prompt_builder),
          std::make_shared<qorl_inference::JSONOutputParser>()};
}

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::preset_image_to_caption
