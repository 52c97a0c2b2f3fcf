// Compiles: the factory through its package, the Mermaid converter through its package, its
// frame and the Mermaid record by their module paths.
#include "qorl_multimodal/builder.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid.hpp"

constexpr auto* kBuild = &qorl_multimodal::builder::build_modality_converter;
using Converter =
    qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::LMBasedImageToMermaid;
using Frame = qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::
    image_to_mermaid::BaseImageToMermaid;
using Record = qorl_multimodal::modality_converter::schema::mermaid::Mermaid;
