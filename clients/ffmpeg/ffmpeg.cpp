#include "clients/ffmpeg/ffmpeg.hpp"

#include <cstdlib>
#include <vector>

#include "clients/common/files.hpp"
#include "clients/common/text.hpp"
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
  const std::string_view message = common::trim_end(result.err, "\r\n");
  return FfmpegError(message.empty() ? fallback : std::string(message));
}

// MP4, M4A, MOV and 3GP files start with a "ftyp" box.
bool is_iso_media(std::string_view media) {
  return media.size() >= 8 && media.substr(4, 4) == "ftyp";
}

// Runs ffmpeg from `input` to `output` with `arguments` between them; FfmpegError on failure.
boost::asio::awaitable<void> run_conversion(fs::path input, std::vector<std::string> arguments,
                                            fs::path output) {
  // "file:" keeps names that look like protocols or options ("-x", "http:...") plain files.
  std::vector<std::string> argv = base_command();
  argv.insert(argv.end(), {"-i", "file:" + input.string()});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  argv.push_back("file:" + output.string());
  const ProcessResult result =
      co_await process::async_run_process(std::move(argv), {.deadline = kDeadline});
  if (result.exit_code != 0) {
    throw failure(result, "ffmpeg exited with status " + std::to_string(result.exit_code));
  }
}

}  // namespace

std::string ffmpeg_program() {
  const char* value = std::getenv("QORL_FFMPEG");
  return value && *value ? value : "ffmpeg";
}

boost::asio::awaitable<void> async_transcode_to_flac(fs::path input, fs::path output) {
  const std::vector<std::string> arguments{"-map", "0:a:0", "-c:a", "flac"};
  co_await run_conversion(input, arguments, output);
}

boost::asio::awaitable<void> async_convert_to_mp4(fs::path input, fs::path output) {
  const auto with = [](std::initializer_list<std::string> codecs) {
    std::vector<std::string> arguments{"-map", "0:v:0", "-map", "0:a:0?", "-sn", "-dn"};
    arguments.insert(arguments.end(), codecs);
    arguments.insert(arguments.end(), {"-movflags", "+faststart", "-f", "mp4"});
    return arguments;
  };
  // GCC 12: no temporaries built inside a co_await expression.
  const std::vector<std::string> copy = with({"-c", "copy"});
  const std::vector<std::string> encode =
      with({"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac"});
  bool copied = false;
  try {
    co_await run_conversion(input, copy, output);
    copied = true;
  } catch (const FfmpegError&) {
    // Codecs MP4 cannot hold (VP8, Vorbis, Theora, ...): encoded again below.
  }
  if (!copied) co_await run_conversion(input, encode, output);
}

boost::asio::awaitable<std::string> async_decode_audio(std::string_view media,
                                                       DecodeOptions options) {
  std::optional<common::TemporaryFile> file;
  ProcessOptions run{.output_limit = options.output_limit, .deadline = kDeadline};
  std::vector<std::string> argv = base_command();
  if (is_iso_media(media)) {
    file.emplace("qorl-ffmpeg", media);
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
