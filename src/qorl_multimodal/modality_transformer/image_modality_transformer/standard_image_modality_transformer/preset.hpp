// This module defines a standard modality transformer that converts images into text/bytes via
// route.
#pragma once

#include <memory>
#include <string>

#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"
#include "qorl_pipeline/router/router.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::preset {

using standard_image_modality_transformer::BaseModalityConverter;
using standard_image_modality_transformer::RouteMapping;

// The constructor arguments of a StandardImageModalityTransformer.
struct StandardPreset {
  std::shared_ptr<qorl_pipeline::BaseRouter> router;
  RouteMapping route_mapping;
};

// Get the preset configuration for standard transformer. "domain_specific": the model router
// for images, four captioning routes sharing one captioner and two Mermaid routes sharing one
// Mermaid converter; fresh objects on every call. ValueError "Invalid preset_name." otherwise.
StandardPreset get_preset(const std::string& preset_name = "domain_specific");

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer::preset
