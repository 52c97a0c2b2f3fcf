// The result of every image-to-text and video-to-text conversion.
#pragma once

#include <string>

#include "qorl_core/record.hpp"

namespace qorl_multimodal::modality_converter::schema::text_result {

struct TextResult : qorl_core::Record<TextResult> {
  std::string result;
  // What kind of text `result` is: "caption", "mermaid", or empty for a failed conversion.
  std::string tag;
  // None, a string-keyed map, or a record.
  qorl_core::Value metadata;

  static const qorl_core::Schema<TextResult>& schema();
};

}  // namespace qorl_multimodal::modality_converter::schema::text_result
