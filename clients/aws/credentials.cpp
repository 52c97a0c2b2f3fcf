#include "clients/aws/credentials.hpp"

#include <boost/url/parse.hpp>
#include <nlohmann/json.hpp>

#include <ctime>
#include <iomanip>
#include <sstream>

#include "clients/aws/shared_config.hpp"
#include "clients/common/files.hpp"
#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/common/text.hpp"
#include "clients/common/url.hpp"
#include "clients/http/http.hpp"
#include "clients/http/policy.hpp"

// GCC 12 at -O2 takes asio's coroutine frame allocator and deallocator for a mismatched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace clients::aws {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view CONTAINER_HOST = "http://169.254.170.2";
constexpr std::string_view METADATA_ENDPOINT = "http://169.254.169.254";
constexpr auto CONTAINER_TIMEOUT = 2s;
constexpr auto METADATA_TIMEOUT = 1s;
// Temporary credentials are replaced this long before they expire.
constexpr auto EXPIRY_MARGIN = 5min;

std::optional<Credentials> from_keys(const Profile& profile) {
  const auto value = [&](std::string_view key) -> std::string {
    const auto it = profile.find(key);
    return it == profile.end() ? std::string() : it->second;
  };
  Credentials credentials{value("aws_access_key_id"), value("aws_secret_access_key"),
                          value("aws_session_token"), std::nullopt};
  if (credentials.access_key_id.empty() || credentials.secret_access_key.empty()) {
    return std::nullopt;
  }
  return credentials;
}

// "2025-01-01T00:00:00Z", as the credential endpoints write expirations.
std::chrono::system_clock::time_point parse_expiration(const std::string& text) {
  std::tm utc{};
  std::istringstream in(text);
  in >> std::get_time(&utc, "%Y-%m-%dT%H:%M:%S");
  if (in.fail()) throw Error("credentials with an unreadable expiration");
  return std::chrono::system_clock::from_time_t(timegm(&utc));
}

// The JSON document both the container and the instance endpoints answer.
struct CredentialsDocument {
  std::string access_key_id;
  std::string secret_access_key;
  std::string token;
  std::string expiration;
};

void from_json(const nlohmann::json& value, CredentialsDocument& document) {
  using common::field_or;
  document = {field_or<std::string>(value, "AccessKeyId"),
              field_or<std::string>(value, "SecretAccessKey"),
              field_or<std::string>(value, "Token"), field_or<std::string>(value, "Expiration")};
}

Credentials parse_credentials_document(const std::string& body) {
  const auto document =
      common::parse_json_or_discarded(body, "AWS credentials endpoint").get<CredentialsDocument>();
  if (document.access_key_id.empty() || document.secret_access_key.empty()) {
    throw Error("credential endpoint answered no credentials");
  }
  Credentials credentials{document.access_key_id, document.secret_access_key, document.token,
                          std::nullopt};
  if (!document.expiration.empty()) credentials.expiration = parse_expiration(document.expiration);
  return credentials;
}

// Full URIs must stay on the container agent's link-local addresses or loopback, or use TLS.
bool allowed_full_uri(const std::string& uri) {
  const auto url = boost::urls::parse_uri(uri);
  if (!url) return false;
  if (url->scheme() == "https") return true;
  if (url->scheme() != "http") return false;
  const std::string host(url->encoded_host_address());
  return host == "127.0.0.1" || host == "localhost" || host == "[::1]" || host == "169.254.170.2" ||
         host == "169.254.170.23" || host == "[fd00:ec2::23]" || host.starts_with("127.");
}

std::string trimmed_file(const std::string& path) {
  std::string text;
  try {
    text = common::read_regular_file(path, common::MAX_CREDENTIALS_FILE_BYTES);
  } catch (const std::runtime_error& error) {
    throw Error("cannot read the container authorization token file: " + std::string(error.what()));
  }
  return std::string(common::trim_end(text, "\r\n"));
}

bool expires_soon(const Credentials& credentials) {
  return credentials.expiration &&
         *credentials.expiration - EXPIRY_MARGIN <= std::chrono::system_clock::now();
}

}  // namespace

std::optional<Credentials> credentials_from_environment() {
  const auto key = env("AWS_ACCESS_KEY_ID");
  const auto secret = env("AWS_SECRET_ACCESS_KEY");
  if (!key || !secret) return std::nullopt;
  return Credentials{*key, *secret,
                     env("AWS_SESSION_TOKEN").value_or(env("AWS_SECURITY_TOKEN").value_or("")),
                     std::nullopt};
}

std::optional<Credentials> credentials_from_shared_files() {
  if (auto credentials = from_keys(credentials_file_profile())) return credentials;
  return from_keys(config_file_profile());
}

namespace {

// The request for the container agent, when the environment names one.
std::optional<http::Request> container_request() {
  std::string url;
  if (auto relative = env("AWS_CONTAINER_CREDENTIALS_RELATIVE_URI")) {
    url = std::string(CONTAINER_HOST) + *relative;
  } else if (auto full = env("AWS_CONTAINER_CREDENTIALS_FULL_URI")) {
    if (!allowed_full_uri(*full)) throw Error("container credentials URI is not allowed");
    url = *full;
  } else {
    return std::nullopt;
  }
  http::Request request;
  request.url = url;
  request.timeout = CONTAINER_TIMEOUT;
  request.headers.emplace_back("Accept", "application/json");
  std::optional<std::string> token = env("AWS_CONTAINER_AUTHORIZATION_TOKEN");
  if (auto token_file = env("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE")) {
    token = trimmed_file(*token_file);
  }
  if (token) {
    common::check_credential(*token, "The container authorization token");
    request.headers.emplace_back("Authorization", *token);
  }
  return request;
}

// The instance metadata service's address, unless it is turned off.
std::optional<std::string> metadata_endpoint() {
  if (common::ascii_lower(env("AWS_EC2_METADATA_DISABLED").value_or("")) == "true") {
    return std::nullopt;
  }
  return common::resolve_base_url(std::nullopt, {"AWS_EC2_METADATA_SERVICE_ENDPOINT"},
                                  METADATA_ENDPOINT);
}

}  // namespace

boost::asio::awaitable<std::optional<Credentials>> credentials_from_container() {
  std::optional<http::Request> request = container_request();
  if (!request) co_return std::nullopt;
  const http::CallPolicy policy = http::default_call_policy();
  const http::Response response = co_await http::call(std::move(*request), policy);
  if (!response.ok()) {
    throw Error("container credentials endpoint answered HTTP " + std::to_string(response.status));
  }
  co_return parse_credentials_document(response.body);
}

boost::asio::awaitable<std::optional<Credentials>> credentials_from_instance_metadata() {
  const std::optional<std::string> endpoint = metadata_endpoint();
  if (!endpoint) co_return std::nullopt;

  // Off EC2 nothing answers: one quick attempt per request keeps the chain fast.
  http::CallPolicy policy = http::default_call_policy();
  policy.retry.max_attempts = 1;
  std::optional<Credentials> found;
  try {
    // IMDSv2: a session token first, then the role name, then the role's credentials.
    http::Request token_request;
    token_request.method = "PUT";
    token_request.url = *endpoint + "/latest/api/token";
    token_request.timeout = METADATA_TIMEOUT;
    token_request.headers = {{"x-aws-ec2-metadata-token-ttl-seconds", "21600"},
                             {"Content-Length", "0"}};  // a PUT without a body still says so
    const http::Response token = co_await http::call(std::move(token_request), policy);
    if (!token.ok()) co_return std::nullopt;

    http::Request request;
    request.url = *endpoint + "/latest/meta-data/iam/security-credentials/";
    request.timeout = METADATA_TIMEOUT;
    request.headers.emplace_back("x-aws-ec2-metadata-token", token.body);
    http::Request roles_request = request;
    const http::Response roles = co_await http::call(std::move(roles_request), policy);
    if (!roles.ok()) co_return std::nullopt;
    const std::string role = roles.body.substr(0, roles.body.find('\n'));
    if (role.empty()) co_return std::nullopt;

    request.url += http::url_encode(role);
    const http::Response document = co_await http::call(std::move(request), policy);
    if (!document.ok()) co_return std::nullopt;
    found = parse_credentials_document(document.body);
  } catch (const http::Error&) {
    // no metadata service here
  } catch (const Error&) {
  }
  co_return found;
}

boost::asio::awaitable<Credentials> DefaultCredentialsChain::credentials() {
  {
    std::lock_guard lock(mutex_);
    if (cached_ && !expires_soon(*cached_)) co_return *cached_;
  }
  std::optional<Credentials> found = credentials_from_environment();
  if (!found) found = credentials_from_shared_files();
  if (!found) found = co_await credentials_from_container();
  if (!found) found = co_await credentials_from_instance_metadata();
  if (!found) throw NoCredentialsError();
  std::lock_guard lock(mutex_);
  cached_ = found;
  co_return std::move(*found);
}

}  // namespace clients::aws
