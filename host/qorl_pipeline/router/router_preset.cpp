#include "qorl_pipeline/router/router_preset.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/value.hpp"

namespace qorl_pipeline {

namespace {

const RouterPreset& domain_specific_image() {
  static const RouterPreset preset{
      {{"general_image",
        "a photograph, illustration or screenshot of everyday scenes, people, objects or places"},
       {"engineering_diagram",
        "a technical drawing: a mechanical, electrical, civil or architectural plan, schematic "
        "or blueprint"},
       {"healthcare_x_ray", "a medical X-ray radiograph"},
       {"healthcare_mri_ct_scan", "a medical MRI or CT scan image"},
       {"diagram",
        "a flowchart, process, sequence or state diagram, or another chart of labelled shapes "
        "connected by lines or arrows"},
       {"organizational_chart",
        "a chart of the hierarchy of people, roles or units in an organization"}},
      "general_image"};
  return preset;
}

}  // namespace

const RouterPreset& get_router_preset(const std::string& input_modality_type,
                                      const std::string& preset_name) {
  if (input_modality_type != "image") {
    throw qorl_core::ValueError("Unsupported input modality type: " +
                                qorl_core::repr(input_modality_type));
  }
  if (preset_name != "domain_specific") {
    throw qorl_core::ValueError("Invalid preset name: " + qorl_core::repr(preset_name));
  }
  return domain_specific_image();
}

std::string routing_system_prompt(const RouterPreset& preset) {
  std::string prompt =
      "You sort inputs for a document-understanding pipeline. Look at the attached input and "
      "choose the one category below that describes it best.\n\n<CATEGORIES>\n";
  for (const auto& route : preset.routes) {
    prompt += "- " + route.name + ": " + route.description + ".\n";
  }
  prompt +=
      "</CATEGORIES>\n\nAnswer with the category name only, exactly as written above, without "
      "quotes or any other text.\n";
  return prompt;
}

}  // namespace qorl_pipeline
