// Abstract base class for image-to-mermaid converters: builds the Mermaid options record from the
// caller's options, asks the concrete converter for the code and wraps it in a result tagged
// "mermaid".
#pragma once

#include <memory>
#include <string>

#include "qorl_multimodal/modality_converter/image_to_text/image_to_text.hpp"
#include "qorl_multimodal/modality_converter/schema/mermaid.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::image_to_mermaid {

using image_to_text::TextResult;
using schema::mermaid::Mermaid;

class BaseImageToMermaid : public image_to_text::BaseImageToText {
 protected:
  // Converts an image to Mermaid syntax and wraps it in a TextResult. The file name travels to
  // `_get_mermaid` among the options, as `filename`; `diagram_type` and `context` fill the
  // Mermaid record (ValidationError when they are not texts).
  boost::asio::awaitable<TextResult> _convert(qorl_core::Bytes image_binary, std::string filename,
                                              qorl_core::Options options) override;

  // Abstract method to extract Mermaid syntax from an image; empty when there is none.
  virtual boost::asio::awaitable<std::string> _get_mermaid(qorl_core::Bytes image_binary,
                                                           std::shared_ptr<Mermaid> mermaid_data,
                                                           qorl_core::Options options) = 0;
};

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::image_to_mermaid
