// Ready-made routing configurations: the routes a router offers, what each is for, and the
// route taken when the model's answer names none of them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qorl_pipeline {

inline constexpr std::string_view DEFAULT_ROUTER_MODEL_ID = "google/gemini-2.5-flash";

struct RouteDescription {
  std::string name;
  std::string description;
};

struct RouterPreset {
  std::vector<RouteDescription> routes;
  std::string default_route;
};

// The preset `preset_name` for inputs of `input_modality_type` ("image": "domain_specific").
// ValueError for an unknown modality or preset name.
const RouterPreset& get_router_preset(const std::string& input_modality_type,
                                      const std::string& preset_name);

// The system prompt asking a model to answer with exactly one of the preset's route names.
std::string routing_system_prompt(const RouterPreset& preset);

}  // namespace qorl_pipeline
