// Whether a transcript has fallen into a repetition loop, by the rules Whisper itself uses to
// ask again: the same text over and over, or text that compresses too well.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_multimodal::utils::repetition_check {

using modality_converter::schema::audio_transcript::AudioTranscript;

struct Repetition {
  std::size_t longest_run = 0;     // the most segments in a row with the same text
  double compression_ratio = 0.0;  // the text's size over its zlib-compressed size

  // Three equal segments in a row, or a compression ratio over 2.4.
  bool loops() const noexcept { return longest_run >= 3 || compression_ratio > 2.4; }
  // Less repetitive than `other`: no loop where it loops, else the lower ratio.
  bool better_than(const Repetition& other) const noexcept;
};

// Segment texts are compared without the blanks around them; the ratio is that of all the text.
Repetition measure(const std::vector<AudioTranscript>& transcript);

// The size of `text` over the size zlib (level 9) compresses it to; 0 for no text.
double compression_ratio(std::string_view text);

}  // namespace qorl_multimodal::utils::repetition_check
