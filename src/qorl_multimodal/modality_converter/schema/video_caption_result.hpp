// Schema for video captioning results in Gen AI applications.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "qorl_core/record.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_multimodal::modality_converter::schema::video_caption_result {

using audio_transcript::AudioTranscript;

// Represents a keyframe extracted from a video segment.
struct Keyframe : qorl_core::Record<Keyframe> {
  double time_offset = 0.0;             // seconds within the segment
  std::optional<std::string> media_id;  // identifier of the raw keyframe image data
  std::string caption;

  static const qorl_core::Schema<Keyframe>& schema();
};

// Represents a video segment with its captions, transcripts, and keyframes.
struct Segment : qorl_core::Record<Segment> {
  double start_time = 0.0;
  double end_time = 0.0;
  std::vector<AudioTranscript> transcripts;
  std::vector<std::string> segment_caption;
  std::vector<Keyframe> keyframes;

  // Ensure segment has caption, fallback to keyframes/transcripts if needed.
  void ensure_caption();
  void after_validation() { ensure_caption(); }

  static const qorl_core::Schema<Segment>& schema();
};

// Metadata for video captioning results.
struct VideoCaptionMetadata : qorl_core::Record<VideoCaptionMetadata> {
  std::string video_summary;
  std::vector<Segment> segments;

  static const qorl_core::Schema<VideoCaptionMetadata>& schema();
};

}  // namespace qorl_multimodal::modality_converter::schema::video_caption_result
