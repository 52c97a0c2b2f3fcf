#include "qorl_multimodal/utils/source_utils.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

#include "clients/http/http.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_multimodal::utils::source_utils {
namespace {

qorl_core::Logger& logger() {
  static const auto instance = qorl_core::LoggerManager().get_logger("qorl_multimodal.utils.source_utils");
  return *instance;
}

// Reads the whole file; the error names the cause and the path as it may be logged.
std::string read_file(const std::string& path, const std::string& logged_path) {
  auto fail = [&](int error) {
    throw std::runtime_error(std::generic_category().message(error) + ": " + qorl_core::repr(logged_path));
  };
  // A C path ends at the first NUL: such a name would open a different file.
  if (path.find('\0') != std::string::npos) throw std::invalid_argument("embedded null byte");
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  std::string content;
  char buffer[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno);
    if (n == 0) return content;
    content.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_url(
    std::string file_source, int timeout, clients::http::Session* session) {
  logger().debug("Attempting to download file from URL: %s", qorl_core::redaction::redact_url(file_source));
  std::optional<std::string> error;
  try {
    // A private session is closed by its destructor on every path, cancellation included.
    std::optional<clients::http::Session> own;
    if (!session) {
      auto executor = co_await boost::asio::this_coro::executor;
      own.emplace(executor);
    }
    clients::http::Request request;
    request.url = file_source;
    request.timeout = std::chrono::seconds(timeout);
    clients::http::Response response = co_await (own ? *own : *session).send(std::move(request));
    if (own) own->close();
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
    return qorl_core::Bytes(read_file(source, logged));
  } catch (const std::exception& e) {
    logger().debug("The provided image source is not a valid image file path with error: %s", e.what());
    return std::nullopt;
  }
}

std::string encode_file_to_base64(const qorl_core::Bytes& file_binary) {
  return qorl_core::base64_encode(file_binary.view());
}

}  // namespace qorl_multimodal::utils::source_utils
