// The yt-dlp program as a library: a download (or a metadata-only extraction) with yt-dlp's own
// option names, run with an argument vector, reporting where the file ended up after
// post-processing.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "clients/process/process.hpp"

namespace clients::youtube {

// Thrown when yt-dlp cannot be started or passes its deadline.
using process::ProcessError;

// yt-dlp failed: its "ERROR: ..." text (unavailable video, network failure, bad URL, ...).
// Service "yt-dlp"; not retryable, as its text does not tell a passing fault from a lasting one.
class DownloadError : public ServiceError {
 public:
  explicit DownloadError(const std::string& message) : ServiceError(message, {"yt-dlp"}) {}
};

struct PostProcessor {
  std::string key;  // only "FFmpegExtractAudio" is supported
  std::string preferredcodec;
};

// Download settings, named as yt-dlp names them.
struct YoutubeDLOptions {
  std::string format;
  bool noplaylist = false;
  std::string outtmpl;
  std::vector<PostProcessor> postprocessors;
  bool quiet = false;
  std::optional<std::string> proxy;
};

// What yt-dlp reports about a video.
struct VideoInfo {
  std::optional<std::string> id;
  std::optional<std::string> ext;
  // The file after post-processing; `ext` may still name the download's original extension.
  // None when nothing was downloaded.
  std::optional<std::string> filepath;
};

// The yt-dlp program: env QORL_YT_DLP, else "yt-dlp" on PATH.
std::string yt_dlp_program();

// How long yt-dlp may run before it is killed: a download, and a metadata-only extraction; the
// default call policy's deadline instead when it is shorter.
inline constexpr std::chrono::minutes kDownloadDeadline{30};
inline constexpr std::chrono::minutes kMetadataDeadline{2};

class YoutubeDL {
 public:
  explicit YoutubeDL(YoutubeDLOptions options) : options_(std::move(options)) {}

  // Extracts the information of the video at `url` and, when `download` is true, downloads it;
  // otherwise only metadata is fetched. Throws DownloadError when yt-dlp fails, ProcessError
  // when it cannot be started or passes its deadline. Cancelling the awaiting coroutine kills
  // yt-dlp and the programs it started.
  [[nodiscard]] boost::asio::awaitable<VideoInfo> async_extract_info(std::string url,
                                                                     bool download = true) const;

  // The argument vector for `url` (program first).
  std::vector<std::string> command(const std::string& url, bool download = true) const;

 private:
  YoutubeDLOptions options_;
};

}  // namespace clients::youtube
