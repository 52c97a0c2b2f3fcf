// What the REST clients of Google APIs share: where requests go and how failed calls read.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "clients/google/errors.hpp"
#include "clients/google/oauth2.hpp"
#include "clients/http/http.hpp"
#include "clients/http/policy.hpp"

namespace clients::google::internal {

// A failed call in the server's words: error.message of Google's JSON error answer (else the
// reason phrase of the status line) and its status name ("NOT_FOUND"; may be empty).
struct ApiError {
  std::string message;
  std::string status;
};
ApiError api_error(const http::Response& response);

// "404 DELETE <url>: <message>", as Google's Cloud client libraries word a failed call.
HttpError call_error(const http::Response& response, std::string_view method,
                     const std::string& url);

// Authenticated exchanges with one Google REST API, under one call policy.
class RestStub {
 public:
  // `credentials` may be null: requests then go out without a token (emulators take them).
  RestStub(std::string endpoint, std::shared_ptr<Credentials> credentials, http::CallPolicy policy)
      : endpoint_(std::move(endpoint)),
        credentials_(std::move(credentials)),
        policy_(std::move(policy)) {}

  // Sends `request`, whose URL is a path under the endpoint, with a bearer token, retried as
  // the policy and `idempotency` allow. Returns the answer of a successful status (and the 404
  // of a DELETE repeated after a lost answer: the object is gone either way); throws
  // call_error's HttpError for an error status, http::Error for a failed transfer and Error
  // when no token can be had.
  boost::asio::awaitable<http::Response> send(http::Request request, http::Idempotency idempotency,
                                              http::CallPolicy policy) const;
  boost::asio::awaitable<http::Response> send(http::Request request,
                                              http::Idempotency idempotency) const {
    return send(std::move(request), idempotency, policy_);
  }

  const http::CallPolicy& policy() const noexcept { return policy_; }

 private:
  std::string endpoint_;
  std::shared_ptr<Credentials> credentials_;
  http::CallPolicy policy_;
};

}  // namespace clients::google::internal
