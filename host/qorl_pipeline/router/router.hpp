// A router names the route an input should take, out of a fixed set of routes.
#pragma once

#include <boost/asio/awaitable.hpp>

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

  // The route for `source`. Synchronous: it blocks the calling thread; never call it from a
  // thread that runs an event loop (use async_route there).
  virtual std::string route(const qorl_core::Value& source) = 0;

  // The same answer as route(), awaited on the caller's loop. Routers that wait on a service
  // override it; the default answers with route() inline, for routers that only compute.
  [[nodiscard]] virtual boost::asio::awaitable<std::string> async_route(qorl_core::Value source);

 protected:
  // ValueError when `default_route` is not among `valid_routes`.
  BaseRouter(std::set<std::string> valid_routes, std::string default_route);

 private:
  std::set<std::string> valid_routes_;
  std::string default_route_;
};

}  // namespace qorl_pipeline
