// The captioning frame: reads the image's metadata, builds the caption context record, asks the
// concrete captioner for captions and returns them cleaned and joined.
#pragma once

#include <string>
#include <vector>

#include "qorl_multimodal/modality_converter/image_to_text/image_to_text.hpp"
#include "qorl_multimodal/modality_converter/schema/caption.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::image_to_caption {

using schema::caption::Caption;
using image_to_text::TextResult;

class BaseImageToCaption : public image_to_text::BaseImageToText {
 protected:
  // Convert an image to natural language captions with optional context. Reads the options
  // `use_metadata` and `delete_attachments_context` (both default true); every option also goes
  // to `_get_captions`.
  boost::asio::awaitable<TextResult> _convert(qorl_core::Bytes image_binary, std::string filename,
                                              qorl_core::Options options) override;

  // Generate captions for an image using provided context and configuration. May return blank
  // or repeated entries; the frame cleans them.
  virtual boost::asio::awaitable<std::vector<std::string>> _get_captions(
      qorl_core::Bytes image_binary, std::string filename, std::shared_ptr<Caption> caption_data,
      qorl_core::Options options) = 0;
};

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::image_to_caption
