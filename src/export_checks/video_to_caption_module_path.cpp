// Compiles: the video captioner through its package, its frames by their module paths.
#include "qorl_multimodal/modality_converter/video_to_text.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption.hpp"

using Captioner =
    qorl_multimodal::modality_converter::video_to_text::video_to_caption::LMBasedVideoToCaption;
using Frame = qorl_multimodal::modality_converter::video_to_text::video_to_caption::
    video_to_caption::BaseVideoToCaption;
using Root = qorl_multimodal::modality_converter::video_to_text::video_to_text::BaseVideoToText;
