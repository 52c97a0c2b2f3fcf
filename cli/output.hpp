// How results are written: plain text, JSON lines, SubRip and WebVTT transcripts.
#pragma once

#include <string>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_cli::output {

using qorl_multimodal::modality_converter::schema::audio_transcript::AudioTranscript;

enum class TranscriptFormat { kText, kSrt, kVtt };

// "HH:MM:SS" plus `separator` and milliseconds: "00:01:02,500" (SubRip) or "00:01:02.500" (WebVTT).
std::string timestamp(double seconds, char separator);

std::string transcript(const std::vector<AudioTranscript>& segments, TranscriptFormat format);

// The records as a JSON list of maps.
qorl_core::Value transcript_records(const std::vector<AudioTranscript>& segments);

// One line of JSON: {"source": ..., "result": ...}.
std::string json_line(const std::string& source, const qorl_core::Value& result);

// `message` on one line (line breaks become blanks) with the secrets of the URLs in it (signatures,
// tokens, keys) redacted: fit for standard error.
std::string one_line(std::string message);

}  // namespace qorl_cli::output
