// The option maps a preset builds its model components from: invoker options with a default
// model, and prompt builder options added to the preset's templates.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <tuple>

#include "qorl_core/value.hpp"
#include "qorl_inference/lm_invoker.hpp"
#include "qorl_inference/output_parser.hpp"
#include "qorl_inference/prompt_builder.hpp"

namespace qorl_multimodal::modality_converter::preset_options {

// The LM invoker, prompt builder and output parser (possibly absent) of a preset.
using PresetComponents = std::tuple<std::shared_ptr<qorl_inference::BaseLMInvoker>,
                                    std::shared_ptr<qorl_inference::PromptBuilder>,
                                    std::shared_ptr<qorl_inference::BaseOutputParser>>;

inline constexpr std::string_view DEFAULT_MODEL_ID = "google/gemini-2.5-flash";

// The model id the environment `variable` holds now (not at start-up), else DEFAULT_MODEL_ID; a
// variable set to the empty text gives the empty text.
std::string model_id_from_environment(const char* variable);

// Works on a caller's map itself when it holds entries (so the caller sees what the preset set)
// and on a fresh empty map otherwise; either may be absent.
class PresetOptions {
 public:
  PresetOptions(qorl_core::Options* lm_invoker_kwargs, qorl_core::Options* prompt_builder_kwargs);
  PresetOptions(const PresetOptions&) = delete;
  PresetOptions& operator=(const PresetOptions&) = delete;

  qorl_core::Options& lm_invoker_kwargs() noexcept { return *lm_invoker_kwargs_; }
  qorl_core::Options& prompt_builder_kwargs() noexcept { return *prompt_builder_kwargs_; }

  // Adds `model_id` to the invoker options unless they already name one.
  void set_default_model_id(std::string_view model_id);

  // The invoker built from the invoker options (which include `model_id`).
  std::shared_ptr<qorl_inference::BaseLMInvoker> build_lm_invoker() const;

 private:
  qorl_core::Options own_lm_invoker_kwargs_;
  qorl_core::Options own_prompt_builder_kwargs_;
  qorl_core::Options* lm_invoker_kwargs_;
  qorl_core::Options* prompt_builder_kwargs_;
};

// A prompt builder of the two templates plus `options` (which must not name a template
// themselves: TypeError, as a duplicate named argument).
std::shared_ptr<qorl_inference::PromptBuilder> make_prompt_builder(
    std::string_view system_template, std::string_view user_template,
    const qorl_core::Options& options);

}  // namespace qorl_multimodal::modality_converter::preset_options
