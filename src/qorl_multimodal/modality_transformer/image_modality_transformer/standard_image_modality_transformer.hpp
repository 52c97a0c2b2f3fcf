// A standard transformer that leverage router to take an image input and outputs to query/bytes.
#pragma once

#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer {

using standard_image_modality_transformer::StandardImageModalityTransformer;

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer
