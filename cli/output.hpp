// How results are written: plain text, JSON lines, SubRip and WebVTT transcripts, and the texts
// of errors.
#pragma once

#include <exception>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_cli::output {

using qorl_multimodal::modality_converter::schema::audio_transcript::AudioTranscript;

enum class TranscriptFormat { kText, kSrt, kVtt };

// The latest time a cue can show: 99:59:59.999, the widest both formats' readers take.
inline constexpr double kLatestTimestamp = 359999.999;

// "HH:MM:SS" plus `separator` and milliseconds: "00:01:02,500" (SubRip) or "00:01:02.500"
// (WebVTT). Times outside 0 to kLatestTimestamp (and NaN) are clamped into it.
std::string timestamp(double seconds, char separator);

// A transcript as text, and what was changed to make it a valid subtitle file.
struct Rendered {
  std::string text;
  std::vector<std::string> warnings;
};

// Subtitle cues always parse: times are clamped to the range a cue can show, and a segment that
// ends before it starts is left out; each change gives a warning.
Rendered transcript(const std::vector<AudioTranscript>& segments, TranscriptFormat format);

// One line of JSON: {"source": ..., "result": ...}, with "cached": true when it came from the
// store, "usage" (JSON text, when given) of what it cost and "via" (when given) the route that
// produced it; or {"source": ..., "error": ...}.
std::string json_line(const std::string& source, const qorl_core::Value& result,
                      bool cached = false, const std::string& usage = "",
                      const std::string& via = "");
std::string json_error_line(const std::string& source, const std::string& error);

// The shortest decimal form that reads back as the same double: 37.775, 0.1, 1e+300.
std::string shortest_number(double value);

// `message` on one line (line breaks become blanks) with secrets redacted: fit for standard error.
std::string one_line(std::string message);

// `text` with its control characters written as escapes: \x1b for C0 controls (line feeds and
// tabs kept) and DEL, \u009b for C1 controls, \xff for a byte that is not UTF-8. What a server
// or a file name holds then cannot drive the terminal it is shown on.
std::string escape_controls(std::string_view text);

// `text` fit for the descriptor `fd` (standard output or error): escaped when it is a terminal,
// unchanged otherwise (pipes and files get the bytes as they are).
std::string for_descriptor(int fd, std::string text);

// The error's message followed by its nested causes, each cause left out when the text already
// says it (libraries often repeat the message of the error they wrap).
std::string error_text(const std::exception& error);

// File names (without extension) for the results of sources, given one after the other, in one
// directory: each source's base name without its extension, "source-N" for the Nth source when it
// has no usable name (base64 text), and "-2", "-3", ... after names already given.
class FileStems {
 public:
  std::string next(const std::string& source);

 private:
  std::map<std::string, int> uses_;
  std::size_t count_ = 0;
};

}  // namespace qorl_cli::output
