// The yt-dlp program as a library: a download (or a metadata-only extraction) with yt-dlp's own
// option names, run with an argument vector, reporting where the file ended up after
// post-processing.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace clients::youtube {

// yt-dlp failed: its "ERROR: ..." text (unavailable video, network failure, bad URL, ...).
class DownloadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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
// The ffmpeg program: env QORL_FFMPEG, else "ffmpeg" on PATH.
std::string ffmpeg_program();

class YoutubeDL {
 public:
  explicit YoutubeDL(YoutubeDLOptions options) : options_(std::move(options)) {}

  // Extracts the information of the video at `url` and, when `download` is true, downloads it;
  // otherwise only metadata is fetched. Throws DownloadError when yt-dlp fails, ProcessError
  // when it cannot be started.
  VideoInfo extract_info(const std::string& url, bool download = true) const;

  // The argument vector for `url` (program first).
  std::vector<std::string> command(const std::string& url, bool download = true) const;

 private:
  YoutubeDLOptions options_;
};

}  // namespace clients::youtube
