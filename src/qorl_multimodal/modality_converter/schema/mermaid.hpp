// Mermaid additional metadata: the options of an image-to-Mermaid conversion.
#pragma once

#include <optional>
#include <string>

#include "qorl_core/record.hpp"

namespace qorl_multimodal::modality_converter::schema::mermaid {

struct Mermaid : qorl_core::Record<Mermaid> {
  std::optional<std::string> diagram_type;  // type of the diagram to generate
  std::optional<std::string> context;       // additional context for generating the diagram

  static const qorl_core::Schema<Mermaid>& schema();
};

}  // namespace qorl_multimodal::modality_converter::schema::mermaid
