#include "clients/youtube/ffmpeg.hpp"

#include "clients/youtube/process.hpp"
#include "clients/youtube/yt_dlp.hpp"

namespace clients::youtube {

void transcode_to_flac(const std::filesystem::path& input, const std::filesystem::path& output) {
  // "file:" keeps names that look like protocols or options ("-x", "http:...") plain files.
  const ProcessResult result = run_process(
      {ffmpeg_program(), "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i",
       "file:" + input.string(), "-map", "0:a:0", "-c:a", "flac", "file:" + output.string()});
  if (result.exit_code != 0) {
    std::string message = result.err;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
      message.pop_back();
    }
    if (message.empty()) message = "ffmpeg exited with status " + std::to_string(result.exit_code);
    throw PostProcessingError(message);
  }
}

}  // namespace clients::youtube
