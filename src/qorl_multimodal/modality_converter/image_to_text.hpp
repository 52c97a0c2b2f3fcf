// Image-to-text conversion module providing OCR and captioning capabilities.
#pragma once

namespace qorl_multimodal::modality_converter::image_to_text {}
