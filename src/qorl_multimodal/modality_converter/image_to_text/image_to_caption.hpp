// Image-to-caption modules for generating descriptive captions from images.
#pragma once

#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption {

using lm_based_image_to_caption::LMBasedImageToCaption;

}  // namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption
