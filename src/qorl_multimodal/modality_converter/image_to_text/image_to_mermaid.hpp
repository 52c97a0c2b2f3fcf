// Image-to-mermaid modules for generating mermaid syntax from chart images.
#pragma once

#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid {

using lm_based_image_to_mermaid::LMBasedImageToMermaid;

}  // namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid
