#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/preset.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/lm_based_image_to_mermaid.hpp"
#include "qorl_pipeline/router/lm_based_router.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::preset {

StandardPreset get_preset(const std::string& preset_name) {
  using modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption::
      LMBasedImageToCaption;
  using modality_converter::image_to_text::image_to_mermaid::lm_based_image_to_mermaid::
      LMBasedImageToMermaid;
  if (preset_name != "domain_specific") throw qorl_core::ValueError("Invalid preset_name.");
  std::shared_ptr<qorl_pipeline::BaseRouter> router =
      qorl_pipeline::LMBasedRouter::from_preset("image", "domain_specific");
  std::shared_ptr<BaseModalityConverter> captioner = LMBasedImageToCaption::from_preset();
  std::shared_ptr<BaseModalityConverter> mermaid = LMBasedImageToMermaid::from_preset();
  return {std::move(router),
          {{"general_image", captioner},
           {"engineering_diagram", captioner},
           {"healthcare_x_ray", captioner},
           {"healthcare_mri_ct_scan", captioner},
           {"diagram", mermaid},
           {"organizational_chart", mermaid}}};
}

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer::preset
