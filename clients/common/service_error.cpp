#include "clients/common/service_error.hpp"

namespace clients {

std::optional<ServiceFailure> service_failure(const std::exception& error) {
  if (const auto* service_error = dynamic_cast<const ServiceError*>(&error))
    return service_error->failure();
  const auto* nested = dynamic_cast<const std::nested_exception*>(&error);
  if (!nested || !nested->nested_ptr()) return std::nullopt;
  try {
    std::rethrow_exception(nested->nested_ptr());
  } catch (const std::exception& cause) {
    return service_failure(cause);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace clients
