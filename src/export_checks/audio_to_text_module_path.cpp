// Compiles: the audio frame by its module path, the Whisper backend through the package.
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"

using Frame = qorl_multimodal::modality_converter::audio_to_text::audio_to_text::BaseAudioToText;
using Backend = qorl_multimodal::modality_converter::audio_to_text::OpenAIWhisperAudioToText;
