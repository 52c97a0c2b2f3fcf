#include "qorl_multimodal/utils/gdrive_utils.hpp"

#include <array>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <boost/url/parse.hpp>

#include "clients/google/drive.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/utils/pcre_pattern.hpp"

namespace qorl_multimodal::utils::gdrive_utils {
namespace {

using pcre_pattern::Pattern;

qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.gdrive_utils">();
}

// Tried in order; the first match gives the id. "$" also matches before a final newline.
const std::array<Pattern, 4>& file_id_patterns() {
  static const std::array<Pattern, 4> patterns{
      Pattern(R"(https?://drive\.google\.com/file/d/([a-zA-Z0-9_-]+))"),
      Pattern(R"(https?://drive\.google\.com/open\?id=([a-zA-Z0-9_-]+))"),
      Pattern(R"(https?://drive\.google\.com/uc\?id=([a-zA-Z0-9_-]+))"),
      Pattern(R"(^([a-zA-Z0-9_-]{20,})$)"),
  };
  return patterns;
}

constexpr std::array<std::string_view, 4> SIGN_IN_MARKERS{
    "Sign in",
    "To access this item, you need to sign in",
    "accounts.google.com/ServiceLogin",
    "gaia_loginform",
};

// The text as UTF-8 with every byte that is not part of a well-formed sequence dropped.
std::string drop_invalid_utf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      text.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0) {
      ++i;
      continue;
    }
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    std::size_t j = 1;
    while (j < length && i + j < bytes.size()) {
      const auto c = static_cast<unsigned char>(bytes[i + j]);
      if (c < (j == 1 ? low : 0x80) || c > (j == 1 ? high : 0xBF)) break;
      ++j;
    }
    if (j == length) text.append(bytes.substr(i, length));
    i += j;
  }
  return text;
}

bool looks_like_sign_in_page(const std::string& body) {
  const std::string text = drop_invalid_utf8(body);
  for (const auto marker : SIGN_IN_MARKERS) {
    if (text.find(marker) != std::string::npos) return true;
  }
  return false;
}

// GCP_CREDENTIALS, or GOOGLE_APPLICATION_CREDENTIALS when that is unset or empty.
std::string key_file_path() {
  for (const char* name : {"GCP_CREDENTIALS", "GOOGLE_APPLICATION_CREDENTIALS"}) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return value;
  }
  return {};
}

}  // namespace

bool is_drive_link_sent_elsewhere(const std::string& source) {
  const char* override_url = std::getenv("QORL_GDRIVE_BASE_URL");
  if (override_url == nullptr || *override_url == '\0') return false;
  const auto url = boost::urls::parse_uri(source);
  if (!url) return false;
  static const std::string drive_host =
      boost::urls::parse_uri(clients::google::DRIVE_WEB_BASE_URL)->host();
  return qorl_core::ascii_lower(url->host()) == drive_host;
}

std::optional<std::string> _extract_gdrive_file_id(const std::string& gdrive_source) {
  for (const auto& pattern : file_id_patterns()) {
    if (auto id = pattern.search(gdrive_source)) return id;
  }
  logger().debug("Could not extract Google Drive file ID from source: %s", gdrive_source);
  return std::nullopt;
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> _download_gdrive_direct(
    std::string file_id) {
  std::string body;
  try {
    const clients::google::DriveClient drive;
    body = co_await drive.download_public(file_id);
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    logger().debug("Failed direct download from Google Drive: %s", error.what());
    co_return std::nullopt;
  }
  try {
    if (looks_like_sign_in_page(body)) {
      logger().debug("Google Drive direct download response indicates sign-in required.");
      co_return std::nullopt;
    }
  } catch (const std::exception& error) {
    logger().debug("Error decoding Google Drive response for sign-in check: %s", error.what());
  }
  co_return qorl_core::Bytes(std::move(body));
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> _download_gdrive_api(std::string file_id) {
  const std::string path = key_file_path();
  std::error_code ignored;
  if (path.empty() || !std::filesystem::exists(path, ignored)) {
    logger().debug("No GCP credentials found for Google Drive API download");
    co_return std::nullopt;
  }
  std::string buffer;
  try {
    auto credentials = std::make_shared<clients::google::ServiceAccountCredentials>(
        clients::google::ServiceAccountCredentials::from_file(
            path, {std::string(clients::google::DRIVE_READONLY_SCOPE)}));
    clients::google::DriveOptions options;
    options.credentials = std::move(credentials);
    const clients::google::DriveClient service(std::move(options));
    clients::google::MediaDownloader downloader(service, file_id, buffer);
    while (!co_await downloader.next_chunk()) {
    }
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    logger().debug("Failed to download from Google Drive using API: %s", error.what());
    co_return std::nullopt;
  }
  co_return qorl_core::Bytes(std::move(buffer));
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_gdrive(
    std::string gdrive_source) {
  source_utils::Fetched fetched = co_await fetch_gdrive(std::move(gdrive_source));
  co_return std::move(fetched.bytes);
}

boost::asio::awaitable<source_utils::Fetched> fetch_gdrive(std::string gdrive_source) {
  const auto file_id = _extract_gdrive_file_id(gdrive_source);
  if (!file_id) co_return source_utils::Fetched{};
  auto bytes = co_await _download_gdrive_direct(*file_id);
  if (!bytes || bytes->empty()) bytes = co_await _download_gdrive_api(*file_id);
  if (bytes) co_return source_utils::Fetched{std::move(bytes)};
  co_return source_utils::Fetched{
      .failure = std::make_exception_ptr(
          std::runtime_error("Google Drive file " + *file_id + " could not be downloaded"))};
}

}  // namespace qorl_multimodal::utils::gdrive_utils
