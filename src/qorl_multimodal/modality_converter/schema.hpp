// Schema definitions for image-to-text operations.
#pragma once

#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"
#include "qorl_multimodal/modality_converter/schema/caption.hpp"
#include "qorl_multimodal/modality_converter/schema/text_result.hpp"

namespace qorl_multimodal::modality_converter::schema {

using audio_transcript::AudioTranscript;
using caption::Caption;
using text_result::TextResult;

}  // namespace qorl_multimodal::modality_converter::schema
