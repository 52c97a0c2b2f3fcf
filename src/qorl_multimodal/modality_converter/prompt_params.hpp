// The prompt variables of one model request: the candidate values a converter knows, reduced to
// the variables its prompt templates name.
#pragma once

#include "qorl_core/value.hpp"
#include "qorl_inference/lm_request_processor.hpp"

namespace qorl_multimodal::modality_converter::prompt_params {

// The entries of `param_mapping` whose key the processor's prompt builder uses, in the order of
// `param_mapping`.
inline qorl_core::Map select_prompt_params(const qorl_core::Map& param_mapping,
                                           const qorl_inference::LMRequestProcessor& processor) {
  const auto& prompt_key_set = processor.prompt_builder()->prompt_key_set();
  qorl_core::Map prompt_params;
  param_mapping.for_each([&](const std::string& key, const qorl_core::Value& value) {
    if (prompt_key_set.contains(key)) prompt_params.set(key, value);
  });
  return prompt_params;
}

}  // namespace qorl_multimodal::modality_converter::prompt_params
