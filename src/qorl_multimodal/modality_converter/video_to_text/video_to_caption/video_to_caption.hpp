// Abstract base class for video captioning operations in Gen AI applications.
#pragma once

#include <memory>
#include <vector>

#include "qorl_inference/attachment.hpp"
#include "qorl_multimodal/modality_converter/schema/caption.hpp"
#include "qorl_multimodal/modality_converter/schema/video_caption_result.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_text.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::video_to_caption {

using schema::caption::Caption;
using schema::video_caption_result::Segment;
using video_to_text::TextResult;

class BaseVideoToCaption : public video_to_text::BaseVideoToText {
 protected:
  // Convert a video to natural language captions with structured output: the answer's
  // "video_summary" becomes the result, the whole answer a VideoCaptionMetadata map as the
  // metadata. A text source is resolved to a video by its content.
  boost::asio::awaitable<TextResult> _convert(qorl_core::Value source,
                                              qorl_core::Options options) override;

  // Build Segment objects from segment data dictionaries. TypeError when `segments_data` is not a
  // list of maps; the first segment that fails its checks stops with its ValidationError.
  static std::vector<Segment> _build_segments(const qorl_core::Value& segments_data);

  // Generate video captions using provided context and configuration: a map with
  // "video_summary" and "segments", the empty map when the video could not be described.
  virtual boost::asio::awaitable<qorl_core::Value> _get_captions(
      std::shared_ptr<qorl_inference::Attachment> video_attachment,
      std::shared_ptr<Caption> caption_data, qorl_core::Options options) = 0;
};

}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::video_to_caption
