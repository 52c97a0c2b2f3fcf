// This module provides a preset configuration for generating video captions.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qorl_multimodal/modality_converter/preset_options.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::
    preset_video_to_caption {

inline constexpr std::string_view DEFAULT_SYSTEM_PROMPT =
    "\n"
    "<INSTRUCTIONS>\n"
    "You are a chatbot that analyzes short videos and generates captions based on the video frames "
    "and speech.\n"
    "Your task is to:\n"
    "\n"
    "- Break the video into coherent **event segments**.\n"
    "- Produce a short **video summary** in {language} describing the overall video content.\n"
    "- For each event segment, produce {number_of_captions} captions in {language} (each caption "
    "describes a specific sub-moment within that segment).\n"
    "- For each caption also include a **keyframes** entry containing the `keyframe` that points "
    "to the time of the representative frame for that caption. The caption metadata for single "
    "range time can contains multiple keyframes, and you must specify all of it.\n"
    "\n"
    "The video may contain several events. Each event can include multiple actions, scenes, "
    "people, or objects. Use both the speech content and the visual context to create accurate and "
    "descriptive captions. Speech content should be rewritten into natural, fluent {language} and "
    "blended into the description of the scene.\n"
    "\n"
    "Describe what happens in each event segment in **narrative style** and **third-person point "
    "of view**. Mention what is visible on screen, such as actions, appearance, clothing, objects, "
    "and environment. If someone speaks but is not visible, describe it as narration or background "
    "voice.\n"
    "\n"
    "Ensure each event segment is distinct and covers a continuous action or topic. **Do not** "
    "create events or captions beyond what is shown or heard. **Do not** include conclusions or "
    "summaries at the end.\n"
    "\n"
    "<OUTPUT_FORMAT>\n"
    "```json\n"
    "{{\n"
    "  \"video_summary\": \"Ringkasan singkat video\",\n"
    "  \"segments\": [\n"
    "    {{\n"
    "      \"start_time\": 0.0,\n"
    "      \"end_time\": 10.0,\n"
    "      \"transcripts\": [\n"
    "        {{\n"
    "          \"text\": \"string (Full text of the spoken dialogue during the segment.)\",\n"
    "          \"start_time\": 1.0,\n"
    "          \"end_time\": 3.0,\n"
    "          \"lang_id\": \"id\"\n"
    "        }},\n"
    "        {{\n"
    "          \"text\": \"string (Full text of the spoken dialogue during the segment.)\",\n"
    "          \"start_time\": 5.0,\n"
    "          \"end_time\": 8.0,\n"
    "          \"lang_id\": \"id\"\n"
    "        }}\n"
    "       ],\n"
    "      \"keyframes\": [\n"
    "        {{\n"
    "          \"caption\": \"keyframe caption\",\n"
    "          \"time_offset\": 5.2\n"
    "        }},\n"
    "        {{\n"
    "          \"caption\": \"keyframe caption\",\n"
    "          \"time_offset\": 7.6\n"
    "        }}\n"
    "      ]\n"
    "    }},\n"
    "    {{\n"
    "      \"start_time\": 11.0,\n"
    "      \"end_time\": 15.0,\n"
    "      \"transcripts\": [...],\n"
    "      \"keyframes\": [\n"
    "        {{\n"
    "          \"caption\": \"keyframe caption\",\n"
    "          \"time_offset\": 7.6\n"
    "        }}\n"
    "      ]\n"
    "    }}\n"
    "  ]\n"
    "}}\n"
    "</OUTPUT_FORMAT>\n"
    "</INSTRUCTIONS>\n";

inline constexpr std::string_view DEFAULT_USER_PROMPT =
    "\n"
    "<INPUT_STRUCTURE>\n"
    "Title: {image_one_liner}\n"
    "Content: {image_description}\n"
    "Main Video Filename: {filename}\n"
    "Metadata: {image_metadata}\n"
    "Injected Domain Knowledge: {domain_knowledge}\n"
    "</INPUT_STRUCTURE>\n";

using preset_options::PresetComponents;

// Create a default prompt builder with templates for generating video captions. The options go
// to the prompt builder beside the two templates; TypeError when they name a template again.
std::shared_ptr<qorl_inference::PromptBuilder> create_default_prompt_builder(
    const qorl_core::Options& options = {});

// Get the preset configuration for generating video captions. The invoker is built from
// `lm_invoker_kwargs` (additional arguments for lm invoker), which gets `model_id` from
// DEFAULT_VIDEO_CAPTIONING_MODEL_ID (else "google/gemini-2.5-flash") when it has none: a
// caller's non-empty map is changed in place. The prompt builder takes `prompt_builder_kwargs`
// (additional arguments for prompt builder). Only "default" is a preset; ValueError
// "Invalid preset name: <name>" otherwise ("None" for none).
PresetComponents get_preset_video_to_caption(const std::optional<std::string>& preset_name,
                                             qorl_core::Options* lm_invoker_kwargs = nullptr,
                                             qorl_core::Options* prompt_builder_kwargs = nullptr);

}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::preset_video_to_caption
