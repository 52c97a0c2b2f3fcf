// Modules concerning the builder utilities of QORL Multimodal modules.
#pragma once

#include "qorl_multimodal/builder/modality_converter_builder.hpp"

namespace qorl_multimodal::builder {

using modality_converter_builder::build_modality_converter;

}  // namespace qorl_multimodal::builder
