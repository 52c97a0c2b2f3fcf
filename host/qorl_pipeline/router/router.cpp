#include "qorl_pipeline/router/router.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_pipeline {

BaseRouter::BaseRouter(std::set<std::string> valid_routes, std::string default_route)
    : valid_routes_(std::move(valid_routes)), default_route_(std::move(default_route)) {
  if (!valid_routes_.contains(default_route_)) {
    throw qorl_core::ValueError("The default route " + qorl_core::repr(default_route_) +
                                " is not a valid route.");
  }
}

boost::asio::awaitable<std::string> BaseRouter::async_route(qorl_core::Value source) {
  co_return route(source);
}

}  // namespace qorl_pipeline
