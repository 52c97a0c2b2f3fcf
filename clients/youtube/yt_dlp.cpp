#include "clients/youtube/yt_dlp.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/http/policy.hpp"
#include "clients/process/process.hpp"

namespace clients::youtube {

void from_json(const nlohmann::json& value, VideoInfo& info) {
  info = {common::optional_field<std::string>(value, "id"),
          common::optional_field<std::string>(value, "ext"),
          common::optional_field<std::string>(value, "filepath")};
}

namespace {

std::string program_from_env(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  return value && *value ? value : fallback;
}

// yt-dlp's error lines; the rest of standard error is progress and warnings.
std::string error_text(const process::ProcessResult& result) {
  std::istringstream lines(result.err);
  std::string line, text;
  while (std::getline(lines, line)) {
    if (line.rfind("ERROR:", 0) != 0) continue;
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text.empty() ? "yt-dlp exited with status " + std::to_string(result.exit_code) : text;
}

}  // namespace

std::string yt_dlp_program() { return program_from_env("QORL_YT_DLP", "yt-dlp"); }

std::vector<std::string> YoutubeDL::command(const std::string& url, bool download) const {
  // No user configuration or cache: the download is decided by these options alone and
  // writes nothing but its file.
  std::vector<std::string> argv{yt_dlp_program(), "--ignore-config", "--no-cache-dir",
                                "--no-progress"};
  if (!options_.format.empty()) argv.insert(argv.end(), {"--format", options_.format});
  if (options_.noplaylist) argv.push_back("--no-playlist");
  if (!options_.outtmpl.empty()) argv.insert(argv.end(), {"--output", options_.outtmpl});
  for (const PostProcessor& pp : options_.postprocessors) {
    if (pp.key != "FFmpegExtractAudio") {
      throw std::invalid_argument("unsupported yt-dlp post-processor: " + pp.key);
    }
    argv.push_back("--extract-audio");
    if (!pp.preferredcodec.empty()) argv.insert(argv.end(), {"--audio-format", pp.preferredcodec});
  }
  if (const char* ffmpeg = std::getenv("QORL_FFMPEG"); ffmpeg && *ffmpeg) {
    argv.insert(argv.end(), {"--ffmpeg-location", ffmpeg});
  }
  if (options_.quiet) argv.push_back("--quiet");
  if (options_.proxy) argv.insert(argv.end(), {"--proxy", *options_.proxy});
  if (download) {
    // The information as JSON once the file is in its final place (it then carries `filepath`).
    argv.insert(argv.end(), {"--print", "after_move:%()j"});
  } else {
    argv.insert(argv.end(), {"--dump-json", "--skip-download"});
  }
  // The URL can never be taken for an option.
  argv.insert(argv.end(), {"--", url});
  return argv;
}

namespace {

// The run's own deadline, shortened to the call policy's when the caller set one (the
// command's --timeout): a hanging yt-dlp is one more call that must not outlast it.
process::ProcessOptions run_options(bool download) {
  std::chrono::milliseconds deadline = download ? kDownloadDeadline : kMetadataDeadline;
  if (const auto limit = http::default_call_policy().retry.deadline) {
    deadline = std::min(deadline, *limit);
  }
  return {.deadline = deadline};
}

// The first JSON object yt-dlp printed.
VideoInfo video_info(const process::ProcessResult& result, const std::string& url, bool download) {
  if (result.exit_code != 0) throw DownloadError(error_text(result));
  std::istringstream lines(result.out);
  std::string line;
  while (std::getline(lines, line)) {
    const nlohmann::json info = common::parse_json_or_discarded(line, "yt-dlp");
    if (!info.is_object()) continue;
    return info.get<VideoInfo>();
  }
  throw DownloadError(std::string("ERROR: yt-dlp reported no ") +
                      (download ? "downloaded video" : "video information") + " for " + url);
}

}  // namespace

boost::asio::awaitable<VideoInfo> YoutubeDL::async_extract_info(std::string url,
                                                                bool download) const {
  std::vector<std::string> argv = command(url, download);
  const process::ProcessResult result =
      co_await process::async_run_process(std::move(argv), run_options(download));
  co_return video_info(result, url, download);
}

}  // namespace clients::youtube
