// Compiles: names are reached by their module path, and exported names through the package.
#include "qorl_multimodal/modality_converter/schema.hpp"
#include "qorl_multimodal/modality_converter/schema/mermaid.hpp"

qorl_multimodal::modality_converter::schema::mermaid::Mermaid by_module_path;
qorl_multimodal::modality_converter::schema::TextResult exported;
