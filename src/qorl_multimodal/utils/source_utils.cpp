#include "qorl_multimodal/utils/source_utils.hpp"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <chrono>

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

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_url(
    std::string file_source, int timeout, clients::http::Session* session) {
  logger().debug("Attempting to download file from URL: %s",
                 qorl_core::redaction::redact_url(file_source));
  std::optional<std::string> error;
  try {
    clients::http::Request request;
    request.url = file_source;
    request.identity_encoding = true;
    clients::http::CallOptions options;
    options.kind = clients::http::CallKind::kDownload;
    options.session = session;
    clients::http::Response response = co_await clients::http::call(
        std::move(request), clients::http::download_policy(std::chrono::seconds(timeout)), options);
    if (response.status == 200) co_return qorl_core::Bytes(std::move(response.body));
    logger().debug("Failed to download file with response status code: %s", response.status);
    co_return std::nullopt;
  } catch (const std::exception& e) {
    if (qorl_core::is_cancellation(e)) throw;
    error = e.what();
  }
  logger().debug("The provided image source is not a valid URL with error: %s", *error);
  co_return std::nullopt;
}

std::optional<qorl_core::Bytes> get_file_from_file_path(const std::string& source) {
  // Sources are tried as paths first, so this may be a URL with secrets in it.
  const std::string logged = qorl_core::redaction::redact_url(source);
  try {
    logger().debug("Attempting to read image file from file path: %s", logged);
    return qorl_core::Bytes(qorl_core::read_regular_file(source));
  } catch (const std::exception& e) {
    std::string message = e.what();
    if (const auto at = message.find(source); at != std::string::npos && logged != source) {
      message.replace(at, source.size(), logged);
    }
    logger().debug("The provided image source is not a valid image file path with error: %s",
                   message);
    return std::nullopt;
  }
}

std::string encode_file_to_base64(const qorl_core::Bytes& file_binary) {
  return qorl_core::base64_encode(file_binary.view());
}

}  // namespace qorl_multimodal::utils::source_utils
