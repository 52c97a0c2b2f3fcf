#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_multimodal::modality_converter::schema::audio_transcript {

const qorl_core::Schema<AudioTranscript>& AudioTranscript::schema() {
  static const qorl_core::Schema<AudioTranscript> kSchema{
      "AudioTranscript",
      {qorl_core::field("text", &AudioTranscript::text).required(),
       qorl_core::field("start_time", &AudioTranscript::start_time).required(),
       qorl_core::field("end_time", &AudioTranscript::end_time).required(),
       qorl_core::field("lang_id", &AudioTranscript::lang_id).required()}};
  return kSchema;
}

}  // namespace qorl_multimodal::modality_converter::schema::audio_transcript
