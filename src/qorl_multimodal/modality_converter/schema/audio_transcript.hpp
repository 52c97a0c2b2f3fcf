// One timed segment of spoken content.
#pragma once

#include <optional>
#include <string>

#include "qorl_core/record.hpp"

namespace qorl_multimodal::modality_converter::schema::audio_transcript {

struct AudioTranscript : qorl_core::Record<AudioTranscript> {
  std::string text;
  double start_time = 0.0;  // seconds
  double end_time = 0.0;    // seconds
  // Must be given; none when the language is unknown.
  std::optional<std::string> lang_id;

  static const qorl_core::Schema<AudioTranscript>& schema();
};

}  // namespace qorl_multimodal::modality_converter::schema::audio_transcript
