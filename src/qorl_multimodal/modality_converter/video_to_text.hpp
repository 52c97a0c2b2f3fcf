// Video to text module.
#pragma once

namespace qorl_multimodal::modality_converter::video_to_text {}
