// The preset configuration for generating image to mermaid: the default model, the prompt
// templates and no output parser (the answer text is the result).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qorl_multimodal/modality_converter/preset_options.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::
    preset_image_to_mermaid {

// Prompt templates: doubled braces are literal braces; neither names a prompt variable.
extern const std::string_view DEFAULT_SYSTEM_PROMPT;
inline constexpr std::string_view DEFAULT_USER_PROMPT = "image(s) attached.";

inline constexpr std::string_view DEFAULT_MODEL_ID = preset_options::DEFAULT_MODEL_ID;

using preset_options::PresetComponents;

// Create a default prompt builder with templates for generating mermaid syntax; `options` are
// further prompt builder options.
std::shared_ptr<qorl_inference::PromptBuilder> create_default_prompt_builder(
    const qorl_core::Options& options = {});

// Get the preset configuration for generating image to mermaid: (invoker, prompt builder, no
// parser). `lm_invoker_kwargs` go to the invoker factory, with `model_id` defaulting to
// DEFAULT_MODEL_ID; a caller's non-empty map is itself given that entry, before the name is
// checked. `prompt_builder_kwargs` go to the prompt builder. "default" (or none) is the only
// preset; ValueError "Invalid preset name: <name>" otherwise.
PresetComponents get_preset_image_to_mermaid(const std::optional<std::string>& preset_name,
                                             qorl_core::Options* lm_invoker_kwargs = nullptr,
                                             qorl_core::Options* prompt_builder_kwargs = nullptr);

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::preset_image_to_mermaid
