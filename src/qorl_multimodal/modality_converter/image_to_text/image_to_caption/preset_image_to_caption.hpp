// This module provides a preset configuration for generating image captions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qorl_multimodal/modality_converter/preset_options.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    preset_image_to_caption {

inline constexpr std::string_view DEFAULT_SYSTEM_PROMPT =
    "\n    <INSTRUCTIONS>\n    Create {number_of_captions} captions in Indonesian.\n    You will "
    "be given several images.\n    The main image is the one that needs captions.\n    The other "
    "images are used as context.\n    Make sure every name or technical term remains in its "
    "original language in the context.\n\n    <OUTPUT_FORMAT>\n    Provide the captions in JSON "
    "format without any additions:\n    ```\n    {{\n    \"captions\": [\n        "
    "\"<caption_1>\",\n        \"<caption_2>\",\n        \"<caption_3>\",\n        ...\n    ]\n    "
    "}}\n    </OUTPUT_FORMAT>\n    </INSTRUCTIONS>\n";

inline constexpr std::string_view DEFAULT_USER_PROMPT =
    "\n    <INPUT_STRUCTURE>\n    Title: {image_one_liner}\n    Content: {image_description}\n    "
    "Main Image Filename: {filename}\n    Metadata: {image_metadata}\n    Injected Domain "
    "Knowledge: {domain_knowledge}\n    </INPUT_STRUCTURE>\n";

using preset_options::PresetComponents;

// Create a default prompt builder with templates for generating image captions.
std::shared_ptr<qorl_inference::PromptBuilder> create_default_prompt_builder();

// Get the preset configuration for generating image captions. "default" (or none) builds the
// model named by DEFAULT_IMAGE_CAPTIONING_MODEL_ID, else "google/gemini-2.5-flash";
// ValueError "Invalid preset name: <name>" otherwise.
PresetComponents get_preset_image_to_caption(const std::optional<std::string>& preset_name);

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::preset_image_to_caption
