#include "clients/google/rest.hpp"

#include <nlohmann/json.hpp>

#include "clients/common/error_answer.hpp"
#include "clients/common/json_parse.hpp"

namespace clients::google::internal {

ApiError api_error(const http::Response& response) {
  common::ErrorAnswer answer =
      common::read_error_answer(common::parse_json_or_discarded(response.body, "Google API"));
  return {answer.message.value_or(response.reason), std::move(answer.code)};
}

HttpError call_error(const http::Response& response, std::string_view method,
                     const std::string& url) {
  ApiError error = api_error(response);
  return HttpError(response.status,
                   std::to_string(response.status) + " " + std::string(method) + " " + url + ": " +
                       error.message,
                   std::move(error.status));
}

boost::asio::awaitable<http::Response> RestStub::send(http::Request request,
                                                      http::Idempotency idempotency,
                                                      http::CallPolicy policy) const {
  const std::string url = endpoint_ + request.url;
  request.url = url;
  if (credentials_) {
    const std::string token = co_await credentials_->access_token();
    request.headers.emplace_back("Authorization", "Bearer " + token);
  }
  const std::string method = request.method;
  bool repeated = false;
  http::CallOptions options;
  options.idempotency = idempotency;
  options.on_retry = [&repeated](const http::RetryNotice&) { repeated = true; };
  http::Response response = co_await http::call(std::move(request), policy, std::move(options));
  const bool gone_after_repeat = repeated && method == "DELETE" && response.status == 404;
  if (!response.ok() && !gone_after_repeat) throw call_error(response, method, url);
  co_return response;
}

}  // namespace clients::google::internal
