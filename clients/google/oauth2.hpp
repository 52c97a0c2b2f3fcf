// OAuth2 access tokens for service accounts: the JWT-bearer grant (RFC 7523) sent to the
// key's token_uri, and credentials that keep the token until shortly before it expires.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clients/google/service_account.hpp"
#include "clients/http/http.hpp"

namespace clients::google {

inline constexpr std::string_view JWT_BEARER_GRANT = "urn:ietf:params:oauth:grant-type:jwt-bearer";
// Access to every Google Cloud API the account may use.
inline constexpr std::string_view CLOUD_PLATFORM_SCOPE =
    "https://www.googleapis.com/auth/cloud-platform";
// A cached token is replaced this long before it expires.
inline constexpr auto TOKEN_REFRESH_MARGIN = std::chrono::minutes(4);

struct AccessToken {
  std::string token;
  std::chrono::system_clock::time_point expiry;
};

// The token request: a form POST of grant_type and assertion to the key's token_uri.
http::Request token_request(const ServiceAccountKey& key, const std::vector<std::string>& scopes,
                            std::chrono::system_clock::time_point now);

// The token of a successful answer; throws Error with the server's error code otherwise.
AccessToken parse_token_response(const http::Response& response,
                                 std::chrono::system_clock::time_point now);

// Something that puts a bearer token on requests.
class Credentials {
 public:
  virtual ~Credentials() = default;
  // A valid access token; throws Error when none can be had, http::Error when the token
  // service cannot be reached.
  virtual boost::asio::awaitable<std::string> access_token() = 0;
};

class ServiceAccountCredentials final : public Credentials {
 public:
  ServiceAccountCredentials(ServiceAccountKey key, std::vector<std::string> scopes);
  static ServiceAccountCredentials from_file(const std::string& path,
                                             std::vector<std::string> scopes);
  static ServiceAccountCredentials from_json(std::string_view content,
                                             std::vector<std::string> scopes);

  ServiceAccountCredentials(ServiceAccountCredentials&& other) noexcept;

  // Exchanges a fresh assertion when there is no token or it expires within the margin, with
  // the default call policy. Concurrent callers may each exchange one; the last one is kept.
  boost::asio::awaitable<std::string> access_token() override;

  const ServiceAccountKey& key() const noexcept { return key_; }

 private:
  ServiceAccountKey key_;
  std::vector<std::string> scopes_;
  std::mutex mutex_;
  std::optional<AccessToken> token_;
};

}  // namespace clients::google
