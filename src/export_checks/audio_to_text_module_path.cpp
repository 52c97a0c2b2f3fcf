// Compiles: the audio frame by its module path, the backends through the package.
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"

using Frame = qorl_multimodal::modality_converter::audio_to_text::audio_to_text::BaseAudioToText;
using Gemini = qorl_multimodal::modality_converter::audio_to_text::GeminiAudioToText;
using Prosa = qorl_multimodal::modality_converter::audio_to_text::ProsaAudioToText;
using Whisper = qorl_multimodal::modality_converter::audio_to_text::OpenAIWhisperAudioToText;
