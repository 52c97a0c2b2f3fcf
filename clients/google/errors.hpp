// Errors of the Google clients; messages never hold a key or a token.
#pragma once

#include <stdexcept>
#include <string>

namespace clients::google {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An error status answered by a Google API; the message names the status and the server's reason.
class HttpError : public Error {
 public:
  HttpError(long status, const std::string& message) : Error(message), status_(status) {}
  long status() const noexcept { return status_; }

 private:
  long status_;
};

}  // namespace clients::google
