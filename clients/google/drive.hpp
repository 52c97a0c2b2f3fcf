// Google Drive downloads: the public web download (/uc, with the large-file warning
// confirmation) and the Drive API v3 files.get media download in ranged chunks.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "clients/google/oauth2.hpp"
#include "clients/http/policy.hpp"

namespace clients::google {

inline constexpr std::string_view DRIVE_WEB_BASE_URL = "https://drive.google.com";
inline constexpr std::string_view GOOGLEAPIS_BASE_URL = "https://www.googleapis.com";
inline constexpr std::string_view DRIVE_READONLY_SCOPE =
    "https://www.googleapis.com/auth/drive.readonly";

struct DriveOptions {
  // None: QORL_GDRIVE_BASE_URL, else DRIVE_WEB_BASE_URL.
  std::optional<std::string> web_base_url;
  // None: QORL_GOOGLEAPIS_BASE_URL, else GOOGLEAPIS_BASE_URL.
  std::optional<std::string> api_base_url;
  // Bearer tokens for the API; the public download needs none.
  std::shared_ptr<Credentials> credentials;
  // Retries, stall guard and download cap (of a file, and of each chunk) of every exchange.
  http::CallPolicy policy = http::default_call_policy();
};

struct MediaChunk {
  std::string data;
  // The file's whole size when the answer told it.
  std::optional<std::uint64_t> total_size;
};

class DriveConnection {
 public:
  virtual ~DriveConnection() = default;
  // GET /uc?export=download&id=...; when the answer sets a cookie named download_warning...,
  // one more GET with confirm=<its value>, on the same session. Throws HttpError for an error
  // status of the final answer, http::Error for a failed transfer or a file past the cap.
  virtual boost::asio::awaitable<std::string> download_public(std::string file_id) = 0;
  // files.get alt=media for bytes first..last (inclusive). Throws HttpError, Error, http::Error
  // (also when the file's size passes the download cap).
  virtual boost::asio::awaitable<MediaChunk> get_media(std::string file_id, std::uint64_t first,
                                                       std::uint64_t last) = 0;
};

std::shared_ptr<DriveConnection> make_drive_connection(DriveOptions options = {});

class DriveClient {
 public:
  explicit DriveClient(DriveOptions options = {})
      : DriveClient(make_drive_connection(std::move(options))) {}
  explicit DriveClient(std::shared_ptr<DriveConnection> connection)
      : connection_(std::move(connection)) {}

  [[nodiscard]] boost::asio::awaitable<std::string> download_public(std::string file_id) const {
    return connection_->download_public(std::move(file_id));
  }
  [[nodiscard]] boost::asio::awaitable<MediaChunk> get_media(std::string file_id,
                                                             std::uint64_t first,
                                                             std::uint64_t last) const {
    return connection_->get_media(std::move(file_id), first, last);
  }

 private:
  std::shared_ptr<DriveConnection> connection_;
};

// Downloads a file's media into `buffer` one ranged request at a time.
class MediaDownloader {
 public:
  static constexpr std::uint64_t DEFAULT_CHUNK_SIZE = 100 * 1024 * 1024;

  struct Progress {
    std::uint64_t received = 0;
    std::optional<std::uint64_t> total_size;
  };

  MediaDownloader(DriveClient client, std::string file_id, std::string& buffer,
                  std::uint64_t chunk_size = DEFAULT_CHUNK_SIZE);

  // Fetches the next chunk; true once the whole file is in the buffer. Throws what the
  // client throws, and Error when the server sends an empty chunk before the end.
  [[nodiscard]] boost::asio::awaitable<bool> next_chunk();
  const Progress& progress() const noexcept { return progress_; }

 private:
  DriveClient client_;
  std::string file_id_;
  std::string& buffer_;
  std::uint64_t chunk_size_;
  Progress progress_;
  bool done_ = false;
};

}  // namespace clients::google
