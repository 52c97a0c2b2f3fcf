// Abstract base class for video-to-text conversion.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "qorl_multimodal/modality_converter/modality_converter.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_text {

using modality_converter::TextResult;

class BaseVideoToText : public modality_converter::BaseModalityConverter {
 public:
  // Executes the video to text process: checks the source (text or bytes, neither empty nor
  // blank), wraps bytes into an Attachment without a file name, and hands it, or the text
  // unchanged, to `_convert` with the caller's options.
  boost::asio::awaitable<TextResult> convert(qorl_core::Value source,
                                             qorl_core::Options options = {}) override;

  // Initialize the video to text converter using preset model configurations. Concrete classes
  // hide this with their own; the frame's raises NotImplementedError.
  static std::unique_ptr<BaseVideoToText> from_preset(
      const std::optional<std::string>& preset_name = "default",
      const qorl_core::Options& options = {});

 protected:
  // Process the video and convert it to text. `source` is a non-blank text or an Attachment.
  virtual boost::asio::awaitable<TextResult> _convert(qorl_core::Value source,
                                                      qorl_core::Options options) = 0;
};

}  // namespace qorl_multimodal::modality_converter::video_to_text::video_to_text
