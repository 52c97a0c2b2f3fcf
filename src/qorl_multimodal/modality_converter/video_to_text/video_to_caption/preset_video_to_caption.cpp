#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/preset_video_to_caption.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_inference/builder.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::preset_video_to_caption {

std::shared_ptr<qorl_inference::PromptBuilder> create_default_prompt_builder(const qorl_core::Options& options) {
  qorl_core::reject_supplied_names(options, {"system_template", "user_template"}, "PromptBuilder");
  qorl_core::Options values{{"system_template", std::string(DEFAULT_SYSTEM_PROMPT)},
                            {"user_template", std::string(DEFAULT_USER_PROMPT)}};
  options.for_each([&](const std::string& key, const qorl_core::Value& value) { values.set(key, value); });
  return std::make_shared<qorl_inference::PromptBuilder>(qorl_inference::PromptBuilder::from_options(values));
}

PresetComponents get_preset_video_to_caption(const std::optional<std::string>& preset_name,
                                             qorl_core::Options* lm_invoker_kwargs,
                                             qorl_core::Options* prompt_builder_kwargs) {
  // A caller's non-empty map is used itself, so the model id below lands in it.
  qorl_core::Options own_lm_invoker_kwargs;
  qorl_core::Options own_prompt_builder_kwargs;
  qorl_core::Options& lm_kwargs =
      lm_invoker_kwargs && !lm_invoker_kwargs->empty() ? *lm_invoker_kwargs : own_lm_invoker_kwargs;
  const qorl_core::Options& builder_kwargs =
      prompt_builder_kwargs && !prompt_builder_kwargs->empty() ? *prompt_builder_kwargs : own_prompt_builder_kwargs;

  const std::string model_id = lm_presets::model_id_from_environment("DEFAULT_VIDEO_CAPTIONING_MODEL_ID");
  if (!lm_kwargs.contains("model_id")) lm_kwargs.set("model_id", model_id);

  if (preset_name != "default") {
    throw qorl_core::ValueError("Invalid preset name: " + preset_name.value_or("None"));
  }
  auto lm_invoker = qorl_inference::build_lm_invoker(lm_kwargs);
  auto prompt_builder = create_default_prompt_builder(builder_kwargs);
  return {std::move(lm_invoker), std::move(prompt_builder), std::make_shared<qorl_inference::JSONOutputParser>()};
}

}  // namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::preset_video_to_caption
