// Compiles: the captioner through its package, its frame and Caption by their module paths,
// Caption also through the schema package.
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/schema.hpp"

using Captioner =
    qorl_multimodal::modality_converter::image_to_text::image_to_caption::LMBasedImageToCaption;
using Frame = qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    image_to_caption::BaseImageToCaption;
using Record = qorl_multimodal::modality_converter::schema::Caption;
