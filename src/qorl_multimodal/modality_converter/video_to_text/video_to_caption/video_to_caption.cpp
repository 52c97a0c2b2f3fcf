#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/video_to_caption.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/utils/video_utils.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::video_to_caption {

using qorl_inference::Attachment;
using schema::video_caption_result::VideoCaptionMetadata;

boost::asio::awaitable<TextResult> BaseVideoToCaption::_convert(qorl_core::Value source,
                                                                qorl_core::Options options) {
  auto video_attachment = source.object_as<Attachment>();
  if (!video_attachment) {
    utils::video_utils::VideoBinary video =
        co_await utils::video_utils::get_video_binary(std::move(source));
    video_attachment = Attachment::from_bytes(std::move(video.first), std::move(video.second));
  }
  std::shared_ptr<Caption> caption_data = co_await schema::caption::make_caption(options);

  qorl_core::reject_supplied_names(options, {"video_attachment", "caption_data"}, "_get_captions");
  const qorl_core::Value video_caption =
      co_await _get_captions(video_attachment, caption_data, options);
  if (!video_caption.is_map()) {
    throw qorl_core::AttributeError("'" + video_caption.type_name() +
                                    "' object has no attribute 'get'");
  }
  const qorl_core::Map& answer = video_caption.as_map();

  auto segments = _build_segments(answer.get("segments", qorl_core::List{}));
  auto video_metadata =
      VideoCaptionMetadata::from_options({{"video_summary", answer.get("video_summary", {})}});
  video_metadata.segments = std::move(segments);

  auto result =
      TextResult::from_options({{"result", video_metadata.video_summary}, {"tag", "caption"}});
  result.metadata = video_metadata.to_map();
  co_return result;
}

std::vector<Segment> BaseVideoToCaption::_build_segments(const qorl_core::Value& segments_data) {
  if (!segments_data.is_list()) {
    throw qorl_core::TypeError("Segments data must be a list, not '" + segments_data.type_name() +
                               "'");
  }
  std::vector<Segment> segments;
  for (const auto& segment_data : segments_data.as_list()) {
    if (!segment_data.is_map()) {
      throw qorl_core::TypeError("Segment data must be a mapping, not '" +
                                 segment_data.type_name() + "'");
    }
    segments.push_back(Segment::from_options(segment_data.as_map()));
  }
  return segments;
}

boost::asio::awaitable<qorl_core::Value> BaseVideoToCaption::_get_captions(
    std::shared_ptr<Attachment>, std::shared_ptr<Caption>, qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::video_to_caption
