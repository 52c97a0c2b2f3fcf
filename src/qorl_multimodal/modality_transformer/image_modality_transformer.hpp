// A modality transformer that takes an image input and outputs to query/bytes.
#pragma once

#include "qorl_multimodal/modality_transformer/image_modality_transformer/generic_image_modality_transformer.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer {

using generic_image_modality_transformer::GenericImageModalityTransformer;

}  // namespace qorl_multimodal::modality_transformer::image_modality_transformer
