// Must not compile: the image_to_caption package offers the captioner, not its frame.
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption.hpp"

using Frame =
    qorl_multimodal::modality_converter::image_to_text::image_to_caption::BaseImageToCaption;
