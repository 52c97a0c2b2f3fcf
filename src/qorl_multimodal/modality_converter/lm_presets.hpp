// What the presets of the LM-based converters share: the triple they build and the default model.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>

#include "qorl_inference/lm_invoker.hpp"
#include "qorl_inference/output_parser.hpp"
#include "qorl_inference/prompt_builder.hpp"

namespace qorl_multimodal::modality_converter::lm_presets {

// The LM invoker, prompt builder and output parser of a preset.
using PresetComponents = std::tuple<std::shared_ptr<qorl_inference::BaseLMInvoker>,
                                    std::shared_ptr<qorl_inference::PromptBuilder>,
                                    std::shared_ptr<qorl_inference::BaseOutputParser>>;

inline constexpr const char* DEFAULT_MODEL_ID = "google/gemini-2.5-flash";

// The model id the environment `variable` holds now (not at start-up), else the default; a
// variable set to the empty text gives the empty text.
inline std::string model_id_from_environment(const char* variable) {
  const char* configured = std::getenv(variable);
  return configured ? configured : DEFAULT_MODEL_ID;
}

}  // namespace qorl_multimodal::modality_converter::lm_presets
