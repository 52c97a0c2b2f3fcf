#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/preset_video_to_caption.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::
    preset_video_to_caption {

std::shared_ptr<qorl_inference::PromptBuilder> create_default_prompt_builder(
    const qorl_core::Options& options) {
  return preset_options::make_prompt_builder(DEFAULT_SYSTEM_PROMPT, DEFAULT_USER_PROMPT, options);
}

PresetComponents get_preset_video_to_caption(const std::optional<std::string>& preset_name,
                                             qorl_core::Options* lm_invoker_kwargs,
                                             qorl_core::Options* prompt_builder_kwargs) {
  preset_options::PresetOptions kwargs(lm_invoker_kwargs, prompt_builder_kwargs);
  kwargs.set_default_model_id(
      preset_options::model_id_from_environment("DEFAULT_VIDEO_CAPTIONING_MODEL_ID"));
  if (preset_name != "default") {
    throw qorl_core::ValueError("Invalid preset name: " + preset_name.value_or("None"));
  }
  auto lm_invoker = kwargs.build_lm_invoker();
  auto prompt_builder = create_default_prompt_builder(kwargs.prompt_builder_kwargs());
  return {std::move(lm_invoker), std::move(prompt_builder),
          std::make_shared<qorl_inference::JSONOutputParser>()};
}

}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::preset_video_to_caption
