// Must not compile: the schema package does not export Mermaid.
#include "qorl_multimodal/modality_converter/schema.hpp"
#include "qorl_multimodal/modality_converter/schema/mermaid.hpp"

qorl_multimodal::modality_converter::schema::Mermaid unexported;
