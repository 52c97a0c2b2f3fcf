#include "qorl_multimodal/modality_converter/schema/video_caption_result.hpp"

namespace qorl_multimodal::modality_converter::schema::video_caption_result {

using qorl_core::field;

const qorl_core::Schema<Keyframe>& Keyframe::schema() {
  static const qorl_core::Schema<Keyframe> kSchema{
      "Keyframe",
      {field("time_offset", &Keyframe::time_offset).required(),
       field("media_id", &Keyframe::media_id), field("caption", &Keyframe::caption).required()}};
  return kSchema;
}

void Segment::ensure_caption() {
  if (!segment_caption.empty()) return;
  // Keyframes win over transcripts; empty and repeated captions are kept as given.
  if (!keyframes.empty()) {
    for (const auto& keyframe : keyframes) segment_caption.push_back(keyframe.caption);
  } else {
    for (const auto& transcript : transcripts) segment_caption.push_back(transcript.text);
  }
}

const qorl_core::Schema<Segment>& Segment::schema() {
  static const qorl_core::Schema<Segment> kSchema{
      "Segment",
      {field("start_time", &Segment::start_time).required(),
       field("end_time", &Segment::end_time).required(),
       field("transcripts", &Segment::transcripts),
       field("segment_caption", &Segment::segment_caption),
       field("keyframes", &Segment::keyframes)}};
  return kSchema;
}

const qorl_core::Schema<VideoCaptionMetadata>& VideoCaptionMetadata::schema() {
  static const qorl_core::Schema<VideoCaptionMetadata> kSchema{
      "VideoCaptionMetadata",
      {field("video_summary", &VideoCaptionMetadata::video_summary).required(),
       field("segments", &VideoCaptionMetadata::segments)}};
  return kSchema;
}

}  // namespace qorl_multimodal::modality_converter::schema::video_caption_result
