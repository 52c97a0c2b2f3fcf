// A router names the route an input should take, out of a fixed set of routes.
#pragma once

#include <set>
#include <string>

#include "qorl_core/value.hpp"

namespace qorl_pipeline {

class BaseRouter {
 public:
  virtual ~BaseRouter() = default;

  // Every route name this router can answer.
  const std::set<std::string>& valid_routes() const noexcept { return valid_routes_; }
  // The route taken when no better one is known; one of valid_routes().
  const std::string& default_route() const noexcept { return default_route_; }

  // The route for `source`. Synchronous: it blocks the calling thread, and may be called from
  // inside a running event loop.
  virtual std::string route(const qorl_core::Value& source) = 0;

 protected:
  // ValueError when `default_route` is not among `valid_routes`.
  BaseRouter(std::set<std::string> valid_routes, std::string default_route);

 private:
  std::set<std::string> valid_routes_;
  std::string default_route_;
};

}  // namespace qorl_pipeline
