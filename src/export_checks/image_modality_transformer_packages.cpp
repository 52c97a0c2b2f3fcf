// Compiles: each transformer through its package, the frames by their module paths.
#include "qorl_multimodal/modality_transformer.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer.hpp"

using Generic = qorl_multimodal::modality_transformer::image_modality_transformer::
    GenericImageModalityTransformer;
using Standard = qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::StandardImageModalityTransformer;
using ImageFrame = qorl_multimodal::modality_transformer::image_modality_transformer::
    image_modality_transformer::ImageModalityTransformer;
using BaseFrame =
    qorl_multimodal::modality_transformer::modality_transformer::BaseModalityTransformer;
