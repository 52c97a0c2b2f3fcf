#include "clients/ffmpeg/ffmpeg.hpp"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "clients/process/process.hpp"

namespace clients::ffmpeg {

namespace {

namespace fs = std::filesystem;
using process::ProcessOptions;
using process::ProcessResult;

// True when a Sun AU file holds at least one sample: its header gives where the samples start.
bool has_samples(const std::string& au) {
  if (au.size() < 8) return false;
  std::size_t offset = 0;
  for (int i = 4; i < 8; ++i) offset = offset << 8 | static_cast<unsigned char>(au[i]);
  return au.size() > offset;
}

std::vector<std::string> base_command() {
  return {ffmpeg_program(), "-nostdin", "-hide_banner", "-loglevel", "error", "-y"};
}

FfmpegError failure(const ProcessResult& result, const std::string& fallback) {
  std::string message = result.err;
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return FfmpegError(message.empty() ? fallback : message);
}

// MP4, M4A, MOV and 3GP files start with a "ftyp" box.
bool is_iso_media(std::string_view media) {
  return media.size() >= 8 && media.substr(4, 4) == "ftyp";
}

// A file only this process can read, removed when the object goes away.
class PrivateFile {
 public:
  explicit PrivateFile(std::string_view content) {
    std::string pattern = (fs::temp_directory_path() / "qorl-ffmpeg-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
      throw FfmpegError("cannot create a temporary file: " + std::string(std::strerror(errno)));
    path_ = pattern;
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
      const ssize_t n = ::write(fd, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int error = errno;
        ::close(fd);
        remove();
        throw FfmpegError("cannot write a temporary file: " + std::string(std::strerror(error)));
      }
      data += n;
      left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
  }
  ~PrivateFile() { remove(); }
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;
  const fs::path& path() const noexcept { return path_; }

 private:
  void remove() noexcept {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  fs::path path_;
};

}  // namespace

std::string ffmpeg_program() {
  const char* value = std::getenv("QORL_FFMPEG");
  return value && *value ? value : "ffmpeg";
}

boost::asio::awaitable<void> async_transcode_to_flac(fs::path input, fs::path output) {
  // "file:" keeps names that look like protocols or options ("-x", "http:...") plain files.
  std::vector<std::string> argv = base_command();
  argv.insert(argv.end(), {"-i", "file:" + input.string(), "-map", "0:a:0", "-c:a", "flac",
                           "file:" + output.string()});
  const ProcessResult result =
      co_await process::async_run_process(std::move(argv), {.deadline = kDeadline});
  if (result.exit_code != 0) {
    throw failure(result, "ffmpeg exited with status " + std::to_string(result.exit_code));
  }
}

boost::asio::awaitable<std::string> async_decode_audio(std::string_view media,
                                                       DecodeOptions options) {
  std::optional<PrivateFile> file;
  ProcessOptions run{.output_limit = options.output_limit, .deadline = kDeadline};
  std::vector<std::string> argv = base_command();
  if (is_iso_media(media)) {
    file.emplace(media);
    argv.insert(argv.end(), {"-i", "file:" + file->path().string()});
  } else {
    run.input = media;
    argv.insert(argv.end(), {"-i", "pipe:0"});
  }
  argv.insert(argv.end(), {"-map", "0:a:0", "-vn", "-sn", "-dn"});
  if (options.channels) argv.insert(argv.end(), {"-ac", std::to_string(*options.channels)});
  if (options.sample_rate) argv.insert(argv.end(), {"-ar", std::to_string(*options.sample_rate)});
  argv.insert(argv.end(), {"-c:a", "pcm_s24be", "-f", "au", "pipe:1"});
  ProcessResult result = co_await process::async_run_process(std::move(argv), run);
  // ffmpeg may end with status 0 after an input it could not read: no samples is a failure too.
  if (result.exit_code != 0 || !has_samples(result.out)) {
    throw failure(result, "ffmpeg decoded no audio");
  }
  co_return std::move(result.out);
}

}  // namespace clients::ffmpeg
