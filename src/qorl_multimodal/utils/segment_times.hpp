// Segment times checked against the length of their media. Models give times past the end (Gemini
// above all) and out of order; the converters return what the services said, and callers that
// know the media's length fit the times to it with these.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_multimodal::utils::segment_times {

using modality_converter::schema::audio_transcript::AudioTranscript;

struct TimeFixes {
  std::size_t clamped = 0;    // segments with a time moved into [0, duration]
  std::size_t reordered = 0;  // segments moved so that their starts are in order

  bool any() const noexcept { return clamped > 0 || reordered > 0; }
  // "2 segments clamped to the media's 12.5 s, 1 reordered".
  std::string describe(double duration) const;
};

// Clamps every start and end into [0, duration] (a time that is not a number becomes 0) and puts
// the segments in the order of their starts, equal starts keeping theirs.
TimeFixes fit_to_duration(std::vector<AudioTranscript>& segments, double duration);

// The same for segments held as maps with number fields "start_time" and "end_time" (a video
// caption's events in its record); a time that is not a number is left as it is, at 0 for the
// order. Moved times become floating-point numbers; the others keep their type.
TimeFixes fit_to_duration(qorl_core::List& segments, double duration);

// Fits the segments to the length of the local media file `source` names; what was changed, in a
// line ("2 segments clamped to the media's 12.5 s"), or none when nothing was, or when `source`
// is not a local media file (the length of other sources is not known without fetching them).
std::optional<std::string> fit_to_media_file(const std::string& source,
                                              std::vector<AudioTranscript>& segments);
std::optional<std::string> fit_to_media_file(const std::string& source, qorl_core::List& segments);

// The length in seconds of the local media file at `path`, from its container's header
// (libavformat, nothing decoded); none when it is not a media file or does not say.
std::optional<double> media_duration(const std::string& path);

}  // namespace qorl_multimodal::utils::segment_times
