// Video captioning implementation using Language Models.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "qorl_inference/uses_lm.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/video_to_caption.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::
    lm_based_video_to_caption {

using video_to_caption::Caption;
using video_to_caption::TextResult;

// The file name shown to the model when the video attachment has none.
inline constexpr std::string_view DEFAULT_FILENAME = "video.mp4";

class LMBasedVideoToCaption : public video_to_caption::BaseVideoToCaption,
                              public qorl_inference::UsesLM<LMBasedVideoToCaption> {
 public:
  explicit LMBasedVideoToCaption(
      std::shared_ptr<qorl_inference::LMRequestProcessor> lm_request_processor)
      : UsesLM(std::move(lm_request_processor)) {}

  // Initialize the LM based video captioning component using preset model configurations. The
  // options go to the constructor through the mixin.
  static std::unique_ptr<LMBasedVideoToCaption> from_preset(
      const std::optional<std::string>& preset_name = "default",
      const qorl_core::Options& options = {});

 protected:
  // Build prompt parameters from caption data: `filename` (the attachment's, else
  // DEFAULT_FILENAME) and the record's fields, reduced to the templates' variables.
  qorl_core::Map _build_prompt_params(const qorl_inference::Attachment& video_attachment,
                                      const Caption& caption_data) const;

  // Generate video captions using a Large Vision Language Model: the video first, then the
  // context attachments; the parsed answer as it is. A ValueError is logged and raised again; a
  // failed model call or any other error is logged and gives the empty map. Reads the option
  // `event_emitter`.
  boost::asio::awaitable<qorl_core::Value> _get_captions(
      std::shared_ptr<qorl_inference::Attachment> video_attachment,
      std::shared_ptr<Caption> caption_data, qorl_core::Options options) override;
};

}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::lm_based_video_to_caption
