// Errors of the Google clients; messages never hold a key or a token.
#pragma once

#include <string>

#include "clients/common/service_error.hpp"

namespace clients::google {

// Service "Google"; not retryable unless its failure says so.
class Error : public ServiceError {
 public:
  explicit Error(const std::string& message, ServiceFailure failure = {"Google"})
      : ServiceError(message, std::move(failure)) {}
};

// An error status answered by a Google API; the message names the status and the server's reason,
// the code is the API's status name ("NOT_FOUND", "PERMISSION_DENIED") when its answer gave one.
class HttpError : public Error {
 public:
  HttpError(long status, const std::string& message, std::string code = {})
      : Error(message, http_failure("Google", status, std::move(code))) {}
  long status() const noexcept { return *http_status(); }
};

}  // namespace clients::google
