#include "qorl_multimodal/utils/s3_utils.hpp"

#include <cstdlib>
#include <exception>

#include "clients/common/secret_text.hpp"
#include "clients/common/url.hpp"
#include "clients/http/http.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"

namespace qorl_multimodal::utils::s3_utils {
namespace {

constexpr std::string_view AWS_DOMAIN_SUFFIX = ".amazonaws.com";
constexpr const char* CREDENTIALS_MESSAGE =
    "AWS credentials not found or invalid. Please ensure valid credentials are available through "
    "environment variables (AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN) or "
    "default credential providers.";

qorl_core::Logger& logger() { return qorl_core::module_logger<"qorl_multimodal.utils.s3_utils">(); }

std::string without_leading_slashes(const std::string& path) {
  return path.substr(std::min(path.find_first_not_of('/'), path.size()));
}

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Failures of the service or the network, which other credentials cannot mend.
bool is_service_failure(const std::exception& error) {
  if (const auto* refused = dynamic_cast<const clients::aws::S3Error*>(&error)) {
    return refused->status() >= 500;
  }
  return dynamic_cast<const clients::http::Error*>(&error) != nullptr;
}

// One attempt: a fresh client with the given credentials (none: the default chain). A refusal
// of S3 that is not about the credentials themselves (a missing object, denied access, a
// redirect) is kept in `refusal`, the first one only, to be reported instead of a credentials
// problem when no attempt succeeds; it is the caller's, which awaits this at once.
boost::asio::awaitable<std::optional<qorl_core::Bytes>> attempt(
    std::string bucket_name, std::string key, std::optional<clients::aws::Credentials> credentials,
    std::optional<std::string>& refusal) {
  try {
    clients::aws::S3ClientOptions options;
    if (credentials) {
      options.credentials =
          std::make_shared<clients::aws::StaticCredentialsProvider>(std::move(*credentials));
    }
    const clients::aws::S3Client client(std::move(options));
    co_return co_await _download_from_s3(client, std::move(bucket_name), std::move(key));
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error) || is_service_failure(error)) throw;
    if (dynamic_cast<const clients::common::InvalidCredential*>(&error)) throw;
    const auto* refused = dynamic_cast<const clients::aws::S3Error*>(&error);
    if (refused && !refused->is_credentials_problem() && !refusal) refusal = refused->what();
  }
  co_return std::nullopt;
}

[[noreturn]] void no_attempt_succeeded(const std::optional<std::string>& refusal) {
  throw qorl_core::ValueError(refusal.value_or(CREDENTIALS_MESSAGE));
}

}  // namespace

std::pair<std::optional<std::string>, std::optional<std::string>> _parse_s3_url(
    const std::string& s3_uri) {
  const clients::common::UrlParts parts = clients::common::split_url(s3_uri);
  if (s3_uri.starts_with("s3://")) {
    return {parts.network_location, without_leading_slashes(parts.path)};
  }
  if (parts.network_location.ends_with(AWS_DOMAIN_SUFFIX)) {
    return {parts.network_location.substr(0, parts.network_location.find('.')),
            without_leading_slashes(parts.path)};
  }
  logger().debug("Not a valid S3 URL: %s", s3_uri);
  return {std::nullopt, std::nullopt};
}

boost::asio::awaitable<qorl_core::Bytes> _download_from_s3(clients::aws::S3Client s3_client,
                                                           std::string bucket_name,
                                                           std::string key) {
  const clients::aws::GetObjectRequest request{std::move(bucket_name), std::move(key)};
  clients::aws::GetObjectResult object = co_await s3_client.get_object(request);
  co_return qorl_core::Bytes(std::move(object.body));
}

boost::asio::awaitable<qorl_core::Bytes> _try_download_with_credentials(std::string bucket_name,
                                                                        std::string key) {
  std::optional<std::string> refusal;
  if (auto bytes = co_await attempt(bucket_name, key, std::nullopt, refusal)) {
    co_return std::move(*bytes);
  }
  logger().debug("Failed to connect with default credentials");

  const std::string access_key = env_or_empty("AWS_ACCESS_KEY_ID");
  const std::string secret_key = env_or_empty("AWS_SECRET_ACCESS_KEY");
  if (access_key.empty() || secret_key.empty()) no_attempt_succeeded(refusal);

  const clients::aws::Credentials keys{access_key, secret_key, "", std::nullopt};
  if (auto bytes = co_await attempt(bucket_name, key, keys, refusal)) co_return std::move(*bytes);
  logger().debug("Failed to connect with access key and secret key");

  const std::string session_token = env_or_empty("AWS_SESSION_TOKEN");
  if (session_token.empty()) no_attempt_succeeded(refusal);

  const clients::aws::Credentials with_token{access_key, secret_key, session_token, std::nullopt};
  if (auto bytes = co_await attempt(bucket_name, key, with_token, refusal)) {
    co_return std::move(*bytes);
  }
  logger().debug("Failed to connect with session token");
  no_attempt_succeeded(refusal);
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_s3(std::string url) {
  source_utils::Fetched fetched = co_await fetch_s3(std::move(url));
  co_return std::move(fetched.bytes);
}

boost::asio::awaitable<source_utils::Fetched> fetch_s3(std::string url) {
  if (url.empty()) co_return source_utils::Fetched{};
  try {
    const auto location = _parse_s3_url(url);
    const std::optional<std::string>& bucket_name = location.first;
    const std::optional<std::string>& key = location.second;
    if (!bucket_name || bucket_name->empty() || !key || key->empty()) {
      logger().debug("Invalid S3 URL format: %s", url);
      co_return source_utils::Fetched{};
    }
    qorl_core::Bytes object = co_await _try_download_with_credentials(*bucket_name, *key);
    co_return source_utils::Fetched{std::move(object)};
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    logger().error("Failed to get file from S3: %s", error.what());
    co_return source_utils::Fetched{.failure = std::current_exception()};
  }
}

}  // namespace qorl_multimodal::utils::s3_utils
