// Modules concerning the modality transformers used in Gen AI applications.
#pragma once

namespace qorl_multimodal::modality_transformer {}
