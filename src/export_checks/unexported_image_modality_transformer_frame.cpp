// Must not compile: the image_modality_transformer package offers the generic transformer, not
// its frame.
#include "qorl_multimodal/modality_transformer/image_modality_transformer.hpp"

using Frame =
    qorl_multimodal::modality_transformer::image_modality_transformer::ImageModalityTransformer;
