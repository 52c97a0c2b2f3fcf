// A transcription backend as a corpus run's conversion, shared by the command and the Python
// module.
#pragma once

#include <memory>
#include <vector>

#include "qorl_multimodal/batch/runner.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

namespace qorl_multimodal::batch::transcription_run {

using modality_converter::audio_to_text::audio_to_text::AudioTranscript;
using modality_converter::audio_to_text::audio_to_text::BaseAudioToText;

// The record a transcript is stored as: its segments' maps, in order.
qorl_core::Value transcript_records(const std::vector<AudioTranscript>& segments);

// Transcribes the source's text with `backend` (the backends take the source as text: a local
// copy of downloaded media would lose its name). "no transcript was generated" for an empty
// transcript; ValueError for per-source options, which no backend takes. The times of a local
// file's transcript are fitted to the media's length, with a warning that says what changed. A
// YouTube backend's route is the conversion's `via`: "captions", or `fallback_name` when its
// fallback backend transcribed the audio.
[[nodiscard]] boost::asio::awaitable<runner::Conversion> transcribe(
    std::shared_ptr<BaseAudioToText> backend, runner::ResolvedSource source,
    std::string fallback_name = "fallback");

}  // namespace qorl_multimodal::batch::transcription_run
