// Must not compile: the audio_to_text package offers the backends, not the Gemini answer record.
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"

using Record = qorl_multimodal::modality_converter::audio_to_text::AudioTranscripts;
