#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"

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
  // Not awaited: the router blocks this thread for as long as it takes.
  const std::string selected_route = skip_routing ? router->default_route() : router->route(source);
  const auto entry = route_mapping.find(selected_route);
  if (entry == route_mapping.end()) throw qorl_core::KeyError(qorl_core::repr(selected_route));
  qorl_core::Value result = co_await convert_to_text(entry->second, std::move(source),
                                                     std::move(query), std::move(options));
  co_return result;
}

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer::standard_image_modality_transformer
