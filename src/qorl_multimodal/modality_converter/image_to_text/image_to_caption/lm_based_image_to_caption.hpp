// Image captioning implementation using Language Models.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qorl_inference/uses_lm.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/image_to_caption.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    lm_based_image_to_caption {

using image_to_caption::Caption;

class LMBasedImageToCaption : public image_to_caption::BaseImageToCaption,
                              public qorl_inference::UsesLM<LMBasedImageToCaption> {
 public:
  explicit LMBasedImageToCaption(
      std::shared_ptr<qorl_inference::LMRequestProcessor> lm_request_processor)
      : UsesLM(std::move(lm_request_processor)) {}

  // Initialize the LM based image captioning component using preset model configurations.
  // `preset_name` none means "default"; the options go to the constructor through the mixin.
  static std::unique_ptr<LMBasedImageToCaption> from_preset(
      const std::optional<std::string>& preset_name = "default",
      const qorl_core::Options& options = {});

 protected:
  // Generate image captions using a Large Vision Language Model: the image first, then the
  // context attachments; the captions under "captions" of the JSON answer. Every failure gives
  // an empty list and one debug line. Reads the option `event_emitter`.
  boost::asio::awaitable<std::vector<std::string>> _get_captions(
      qorl_core::Bytes image_binary, std::string filename, std::shared_ptr<Caption> caption_data,
      qorl_core::Options options) override;
};

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption
