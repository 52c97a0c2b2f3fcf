// Modules concerning the audio to text process in Gen AI applications.
#pragma once

#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text {

using gemini_audio_to_text::GeminiAudioToText;
using google_cloud_audio_to_text::GoogleCloudAudioToText;
using prosa_audio_to_text::ProsaAudioToText;
using openai_whisper_audio_to_text::OpenAIWhisperAudioToText;
using youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText;

}  // namespace qorl_multimodal::modality_converter::audio_to_text
