#include "clients/google/oauth2.hpp"

#include <nlohmann/json.hpp>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/http/policy.hpp"

namespace clients::google {
namespace {

using namespace std::chrono_literals;

constexpr auto TOKEN_TIMEOUT = 60s;

}  // namespace

http::Request token_request(const ServiceAccountKey& key, const std::vector<std::string>& scopes,
                            std::chrono::system_clock::time_point now) {
  http::Request request;
  request.method = "POST";
  request.url = key.token_uri;
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                     {"Accept", "application/json"}};
  request.body = "grant_type=" + http::url_encode(JWT_BEARER_GRANT) +
                 "&assertion=" + http::url_encode(make_jwt_assertion(key, scopes, now));
  request.timeout = TOKEN_TIMEOUT;
  // The body is a signed assertion: a redirect must not carry it to another origin.
  request.follow_redirects = false;
  return request;
}

AccessToken parse_token_response(const http::Response& response,
                                 std::chrono::system_clock::time_point now) {
  const auto answer = common::parse_json_or_discarded(response.body, "OAuth token endpoint");
  const auto token = common::optional_field<std::string>(answer, "access_token");
  if (response.ok() && token) {
    common::check_credential(*token, "The access token of the OAuth token endpoint");
    const auto lifetime = answer.value("expires_in", 3600);
    return {*token, now + std::chrono::seconds(lifetime)};
  }
  // The error code and description are the server's words; they carry no secret.
  std::string reason = "HTTP " + std::to_string(response.status);
  if (const auto error = common::optional_field<std::string>(answer, "error")) {
    reason = *error;
    if (const auto description = common::optional_field<std::string>(answer, "error_description")) {
      reason += ": " + *description;
    }
  }
  throw Error("token request failed (" + reason + ")");
}

ServiceAccountCredentials::ServiceAccountCredentials(ServiceAccountKey key,
                                                     std::vector<std::string> scopes)
    : key_(std::move(key)), scopes_(std::move(scopes)) {}

ServiceAccountCredentials::ServiceAccountCredentials(ServiceAccountCredentials&& other) noexcept
    : key_(std::move(other.key_)),
      scopes_(std::move(other.scopes_)),
      token_(std::move(other.token_)) {}

ServiceAccountCredentials ServiceAccountCredentials::from_file(const std::string& path,
                                                               std::vector<std::string> scopes) {
  return {ServiceAccountKey::from_file(path), std::move(scopes)};
}

ServiceAccountCredentials ServiceAccountCredentials::from_json(std::string_view content,
                                                               std::vector<std::string> scopes) {
  return {ServiceAccountKey::from_json(content), std::move(scopes)};
}

boost::asio::awaitable<std::string> ServiceAccountCredentials::access_token() {
  const auto now = std::chrono::system_clock::now();
  {
    std::lock_guard lock(mutex_);
    if (token_ && now < token_->expiry - TOKEN_REFRESH_MARGIN) co_return token_->token;
  }
  // The exchange of a signed assertion may be repeated: each grants a token of its own.
  http::Request request = token_request(key_, scopes_, now);
  const http::CallPolicy policy = http::default_call_policy();
  const http::Response response = co_await http::call(std::move(request), policy);
  AccessToken fresh = parse_token_response(response, now);
  {
    std::lock_guard lock(mutex_);
    token_ = fresh;
  }
  co_return std::move(fresh.token);
}

}  // namespace clients::google
