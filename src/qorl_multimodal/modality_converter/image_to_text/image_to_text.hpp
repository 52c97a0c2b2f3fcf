// An abstract base class for image to text conversion used in Gen AI applications.
#pragma once

#include "qorl_multimodal/modality_converter/modality_converter.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_text {

using modality_converter::TextResult;

class BaseImageToText : public modality_converter::BaseModalityConverter {
 public:
  // Checks the source (text or bytes, text not blank), resolves it to image bytes and a file
  // name, and hands them to `_convert` with the caller's options. A source that is no image
  // gives an empty result and one error line.
  boost::asio::awaitable<TextResult> convert(qorl_core::Value source,
                                             qorl_core::Options options = {}) override;

 protected:
  // Process the image and convert it to text.
  virtual boost::asio::awaitable<TextResult> _convert(qorl_core::Bytes image_binary,
                                                      std::string filename,
                                                      qorl_core::Options options) = 0;
};

}  // namespace qorl_multimodal::modality_converter::image_to_text::image_to_text
