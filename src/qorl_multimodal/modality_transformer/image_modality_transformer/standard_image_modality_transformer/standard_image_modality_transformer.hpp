// This module defines a standard modality transformer that converts images into text/bytes via
// route.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qorl_multimodal/modality_transformer/image_modality_transformer/image_modality_transformer.hpp"
#include "qorl_pipeline/router/router.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::standard_image_modality_transformer {

using image_modality_transformer::BaseModalityConverter;

// The converter of each route name, in the order given; one converter may serve several routes.
class RouteMapping {
 public:
  using value_type = std::pair<std::string, std::shared_ptr<BaseModalityConverter>>;
  using const_iterator = std::vector<value_type>::const_iterator;

  RouteMapping() = default;
  // A later entry for a route name already given replaces its converter in place.
  RouteMapping(std::initializer_list<value_type> entries);

  void set(std::string route, std::shared_ptr<BaseModalityConverter> converter);
  const_iterator find(std::string_view route) const;
  bool contains(std::string_view route) const { return find(route) != end(); }
  // KeyError naming the route when it is absent.
  const std::shared_ptr<BaseModalityConverter>& at(std::string_view route) const;
  std::size_t size() const noexcept { return entries_.size(); }
  const_iterator begin() const noexcept { return entries_.begin(); }
  const_iterator end() const noexcept { return entries_.end(); }

 private:
  std::vector<value_type> entries_;
};

// A standardized image modality transformer that routes and applies converter.
class StandardImageModalityTransformer
    : public image_modality_transformer::ImageModalityTransformer {
 public:
  // ValueError "Missing routes: {...}" when the mapping lacks a route the router declares
  // valid; ValueError when there is no router.
  StandardImageModalityTransformer(std::shared_ptr<qorl_pipeline::BaseRouter> router,
                                   RouteMapping route_mapping);

  // Create an instance using a predefined preset configuration ("domain_specific");
  // ValueError "Invalid preset_name." otherwise.
  static std::unique_ptr<StandardImageModalityTransformer> from_preset(
      const std::string& preset_name);

  // A routing component that determines the route based on the input image.
  const std::shared_ptr<qorl_pipeline::BaseRouter> router;
  const RouteMapping route_mapping;

 protected:
  // Ensure that all valid routes required by the router are provided; returns the mapping.
  RouteMapping _validate_routes(RouteMapping route_mapping) const;

  // Converts an image input to a target modality using the routed converter. The option
  // `skip_routing` (truthy: take the router's default route without asking it) is read here
  // and not passed on. KeyError naming the route when the mapping lacks it.
  boost::asio::awaitable<qorl_core::Value> _transform(qorl_core::Value source,
                                                      qorl_core::Value query,
                                                      qorl_core::Options options) override;
};

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::standard_image_modality_transformer::standard_image_modality_transformer
