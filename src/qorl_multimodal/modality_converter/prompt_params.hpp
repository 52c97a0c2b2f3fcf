// The prompt variables of one model request: the candidate values a converter knows, reduced to
// the variables its prompt templates name.
#pragma once

#include <string>

#include "qorl_core/value.hpp"
#include "qorl_inference/lm_request_processor.hpp"
#include "qorl_multimodal/constants.hpp"
#include "qorl_multimodal/modality_converter/schema/caption.hpp"

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

// A captioning request's variables: `filename` first, then every field of the caption record,
// reduced to those the processor's templates use.
inline qorl_core::Map caption_prompt_params(std::string filename,
                                            const schema::caption::Caption& caption_data,
                                            const qorl_inference::LMRequestProcessor& processor) {
  qorl_core::Map param_mapping;
  param_mapping.set(std::string(constants::ImageToTextConstants::FILENAME), std::move(filename));
  caption_data.to_map().for_each(
      [&](const std::string& key, const qorl_core::Value& v) { param_mapping.set(key, v); });
  return select_prompt_params(param_mapping, processor);
}

}  // namespace qorl_multimodal::modality_converter::prompt_params
