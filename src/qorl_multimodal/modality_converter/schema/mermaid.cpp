#include "qorl_multimodal/modality_converter/schema/mermaid.hpp"

namespace qorl_multimodal::modality_converter::schema::mermaid {

const qorl_core::Schema<Mermaid>& Mermaid::schema() {
  static const qorl_core::Schema<Mermaid> kSchema{
      "Mermaid",
      {qorl_core::field("diagram_type", &Mermaid::diagram_type),
       qorl_core::field("context", &Mermaid::context)}};
  return kSchema;
}

}  // namespace qorl_multimodal::modality_converter::schema::mermaid
