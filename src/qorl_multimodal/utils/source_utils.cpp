#include "qorl_multimodal/utils/source_utils.hpp"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>
#include <boost/url/parse.hpp>

#include <chrono>
#include <filesystem>

#include "clients/http/policy.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_multimodal::utils::source_utils {
namespace {

qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.source_utils">();
}

}  // namespace

bool is_web_url(std::string_view source) {
  const auto parsed = boost::urls::parse_absolute_uri(source);
  if (!parsed || parsed->encoded_host().empty()) return false;
  const auto scheme = parsed->scheme_id();
  return scheme == boost::urls::scheme::http || scheme == boost::urls::scheme::https;
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_url(
    std::string file_source, int timeout, clients::http::Session* session) {
  Fetched fetched = co_await fetch_url(std::move(file_source), timeout, session);
  co_return std::move(fetched.bytes);
}

boost::asio::awaitable<Fetched> fetch_url(std::string file_source, int timeout,
                                          clients::http::Session* session) {
  logger().debug("Attempting to download file from URL: %s",
                 qorl_core::redaction::redact_url(file_source));
  std::optional<std::string> error;
  std::exception_ptr failure;
  try {
    clients::http::Request request;
    request.url = file_source;
    request.identity_encoding = true;
    clients::http::CallOptions options;
    options.kind = clients::http::CallKind::kDownload;
    options.session = session;
    clients::http::Response response = co_await clients::http::call(
        std::move(request), clients::http::download_policy(std::chrono::seconds(timeout)), options);
    if (response.status == 200) co_return Fetched{qorl_core::Bytes(std::move(response.body))};
    logger().debug("Failed to download file with response status code: %s", response.status);
    co_return Fetched{.failure = std::make_exception_ptr(
                          std::runtime_error("Failed to download file with response status code: " +
                                             std::to_string(response.status)))};
  } catch (const std::exception& e) {
    if (qorl_core::is_cancellation(e)) throw;
    error = e.what();
    if (is_web_url(file_source)) failure = std::current_exception();
  }
  logger().debug("The provided image source is not a valid URL with error: %s", *error);
  co_return Fetched{.failure = failure};
}

std::optional<qorl_core::Bytes> get_file_from_file_path(const std::string& source) {
  return read_file_path(source).bytes;
}

Fetched read_file_path(const std::string& source) {
  // Sources are tried as paths first, so this may be a URL with secrets in it.
  const std::string logged = qorl_core::redaction::redact_url(source);
  try {
    logger().debug("Attempting to read image file from file path: %s", logged);
    return Fetched{qorl_core::Bytes(qorl_core::read_regular_file(source))};
  } catch (const std::exception& e) {
    std::string message = e.what();
    if (const auto at = message.find(source); at != std::string::npos && logged != source) {
      message.replace(at, source.size(), logged);
    }
    logger().debug("The provided image source is not a valid image file path with error: %s",
                   message);
    // Most sources are no path at all; only something that exists there says why.
    std::error_code ignored;
    if (!std::filesystem::exists(source, ignored)) return {};
    return Fetched{.failure = std::make_exception_ptr(std::runtime_error(message))};
  }
}

std::string encode_file_to_base64(const qorl_core::Bytes& file_binary) {
  return qorl_core::base64_encode(file_binary.view());
}

}  // namespace qorl_multimodal::utils::source_utils
