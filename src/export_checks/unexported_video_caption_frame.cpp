// Must not compile: the video_to_caption package offers the captioner, not its frame.
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption.hpp"

using Frame =
    qorl_multimodal::modality_converter::video_to_text::video_to_caption::BaseVideoToCaption;
