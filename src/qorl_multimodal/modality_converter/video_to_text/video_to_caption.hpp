// Video-to-caption modules for generating descriptive captions from videos.
#pragma once

#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/lm_based_video_to_caption.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption {

using lm_based_video_to_caption::LMBasedVideoToCaption;

}  // namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption
