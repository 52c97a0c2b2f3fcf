// Modules concerning multimodal in Gen AI applications.
#pragma once

namespace qorl_multimodal::modality_converter {}
