// Must not compile: the audio_to_text package offers the backends, not their frame.
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"

using Frame = qorl_multimodal::modality_converter::audio_to_text::BaseAudioToText;
