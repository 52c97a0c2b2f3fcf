#include "qorl_multimodal/modality_converter/preset_options.hpp"

#include <cstdlib>

#include "qorl_inference/builder.hpp"

namespace qorl_multimodal::modality_converter::preset_options {

namespace {

qorl_core::Options* caller_or_own(qorl_core::Options* given, qorl_core::Options& own) {
  return given && !given->empty() ? given : &own;
}

}  // namespace

std::string model_id_from_environment(const char* variable) {
  const char* configured = std::getenv(variable);
  return configured ? std::string(configured) : std::string(DEFAULT_MODEL_ID);
}

PresetOptions::PresetOptions(qorl_core::Options* lm_invoker_kwargs,
                             qorl_core::Options* prompt_builder_kwargs)
    : lm_invoker_kwargs_(caller_or_own(lm_invoker_kwargs, own_lm_invoker_kwargs_)),
      prompt_builder_kwargs_(caller_or_own(prompt_builder_kwargs, own_prompt_builder_kwargs_)) {}

void PresetOptions::set_default_model_id(std::string_view model_id) {
  if (!lm_invoker_kwargs_->contains("model_id")) lm_invoker_kwargs_->set("model_id", model_id);
}

std::shared_ptr<qorl_inference::BaseLMInvoker> PresetOptions::build_lm_invoker() const {
  return qorl_inference::build_lm_invoker(*lm_invoker_kwargs_);
}

std::shared_ptr<qorl_inference::PromptBuilder> make_prompt_builder(
    std::string_view system_template, std::string_view user_template,
    const qorl_core::Options& options) {
  qorl_core::reject_supplied_names(options, {"system_template", "user_template"}, "PromptBuilder");
  qorl_core::Options all{{"system_template", system_template}, {"user_template", user_template}};
  options.for_each(
      [&](const std::string& key, const qorl_core::Value& value) { all.set(key, value); });
  return std::make_shared<qorl_inference::PromptBuilder>(
      qorl_inference::PromptBuilder::from_options(all));
}

}  // namespace qorl_multimodal::modality_converter::preset_options
