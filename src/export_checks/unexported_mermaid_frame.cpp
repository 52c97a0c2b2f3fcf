// Must not compile: the image_to_mermaid package offers the converter, not its frame.
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid.hpp"

using Frame =
    qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::BaseImageToMermaid;
