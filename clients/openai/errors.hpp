// Errors of the OpenAI API client, by kind as the official clients name them.
#pragma once

#include <string>
#include <utility>

#include "clients/common/service_error.hpp"

namespace clients::openai {

// Service "OpenAI".
class OpenAIError : public ServiceError {
 public:
  explicit OpenAIError(const std::string& message, ServiceFailure failure = {"OpenAI"})
      : ServiceError(message, std::move(failure)) {}
};

// The request did not complete (refused connection, time-out, TLS failure, reset). Retryable as
// the failed transfer was.
class APIConnectionError : public OpenAIError {
 public:
  APIConnectionError(const std::string& message, bool retryable)
      : OpenAIError(message, {"OpenAI", std::nullopt, "connection", retryable}) {}
};

// The service answered with an error status. The message is "Error code: <status> - <the
// service's error message>"; the code is its error.code or error.type, when it gave one.
class APIStatusError : public OpenAIError {
 public:
  APIStatusError(const std::string& message, long status_code, std::string body,
                 std::string code = {})
      : OpenAIError(message, http_failure("OpenAI", status_code, std::move(code))),
        body_(std::move(body)) {}
  long status_code() const noexcept { return *http_status(); }
  const std::string& body() const noexcept { return body_; }

 private:
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
