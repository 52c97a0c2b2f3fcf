#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"

#include <algorithm>

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/preset.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::standard_image_modality_transformer {

namespace {

std::shared_ptr<qorl_pipeline::BaseRouter> required(
    std::shared_ptr<qorl_pipeline::BaseRouter> router) {
  if (!router) throw qorl_core::ValueError("StandardImageModalityTransformer needs a router");
  return router;
}

}  // namespace

RouteMapping::RouteMapping(std::initializer_list<value_type> entries) {
  for (const auto& [route, converter] : entries) set(route, converter);
}

void RouteMapping::set(std::string route, std::shared_ptr<BaseModalityConverter> converter) {
  const auto existing = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const value_type& entry) { return entry.first == route; });
  if (existing != entries_.end()) {
    existing->second = std::move(converter);
  } else {
    entries_.emplace_back(std::move(route), std::move(converter));
  }
}

RouteMapping::const_iterator RouteMapping::find(std::string_view route) const {
  return std::find_if(begin(), end(),
                      [&](const value_type& entry) { return entry.first == route; });
}

const std::shared_ptr<BaseModalityConverter>& RouteMapping::at(std::string_view route) const {
  const auto entry = find(route);
  if (entry == end()) throw qorl_core::KeyError(qorl_core::repr(std::string(route)));
  return entry->second;
}

StandardImageModalityTransformer::StandardImageModalityTransformer(
    std::shared_ptr<qorl_pipeline::BaseRouter> router, RouteMapping route_mapping)
    : router(required(std::move(router))),
      route_mapping(_validate_routes(std::move(route_mapping))) {}

std::unique_ptr<StandardImageModalityTransformer> StandardImageModalityTransformer::from_preset(
    const std::string& preset_name) {
  auto preset = preset::get_preset(preset_name);
  return std::make_unique<StandardImageModalityTransformer>(std::move(preset.router),
                                                            std::move(preset.route_mapping));
}

RouteMapping StandardImageModalityTransformer::_validate_routes(RouteMapping route_mapping) const {
  std::string missing;
  for (const auto& route : router->valid_routes()) {
    if (route_mapping.contains(route)) continue;
    missing += (missing.empty() ? "" : ", ") + qorl_core::repr(route);
  }
  if (!missing.empty()) throw qorl_core::ValueError("Missing routes: {" + missing + "}");
  return route_mapping;
}

boost::asio::awaitable<qorl_core::Value> StandardImageModalityTransformer::_transform(
    qorl_core::Value source, qorl_core::Value query, qorl_core::Options options) {
  const bool skip_routing = options.get("skip_routing", false).truthy();
  options.erase("skip_routing");
  std::string selected_route = router->default_route();
  if (!skip_routing) selected_route = co_await router->async_route(source);
  const std::shared_ptr<BaseModalityConverter> converter = route_mapping.at(selected_route);
  qorl_core::Value result =
      co_await convert_to_text(converter, std::move(source), std::move(query), std::move(options));
  co_return result;
}

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer::standard_image_modality_transformer
