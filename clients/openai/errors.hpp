// Errors of the OpenAI API client, by kind as the official clients name them.
#pragma once

#include <stdexcept>
#include <string>

namespace clients::openai {

class OpenAIError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The request did not complete (refused connection, time-out, TLS failure, reset).
class APIConnectionError : public OpenAIError {
 public:
  using OpenAIError::OpenAIError;
};

// The service answered with an error status. The message is "Error code: <status> - <the
// service's error message>".
class APIStatusError : public OpenAIError {
 public:
  APIStatusError(const std::string& message, long status_code, std::string body)
      : OpenAIError(message), status_code_(status_code), body_(std::move(body)) {}
  long status_code() const noexcept { return status_code_; }
  const std::string& body() const noexcept { return body_; }

 private:
  long status_code_;
  std::string body_;
};

#define CLIENTS_OPENAI_STATUS_ERROR(Name) \
  class Name : public APIStatusError {    \
   public:                                \
    using APIStatusError::APIStatusError; \
  };

CLIENTS_OPENAI_STATUS_ERROR(BadRequestError)           // 400
CLIENTS_OPENAI_STATUS_ERROR(AuthenticationError)       // 401
CLIENTS_OPENAI_STATUS_ERROR(PermissionDeniedError)     // 403
CLIENTS_OPENAI_STATUS_ERROR(NotFoundError)             // 404
CLIENTS_OPENAI_STATUS_ERROR(ConflictError)             // 409
CLIENTS_OPENAI_STATUS_ERROR(UnprocessableEntityError)  // 422
CLIENTS_OPENAI_STATUS_ERROR(RateLimitError)            // 429
CLIENTS_OPENAI_STATUS_ERROR(InternalServerError)       // 500 and above

#undef CLIENTS_OPENAI_STATUS_ERROR

}  // namespace clients::openai
