// The ffmpeg program, run with an argument vector and awaited on the caller's event loop.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "clients/common/service_error.hpp"

namespace clients::ffmpeg {

// ffmpeg could not convert the media; the message is ffmpeg's own error output. Service
// "ffmpeg"; not retryable.
class FfmpegError : public ServiceError {
 public:
  explicit FfmpegError(const std::string& message) : ServiceError(message, {"ffmpeg"}) {}
};

// The ffmpeg program: env QORL_FFMPEG, else "ffmpeg" on PATH.
std::string ffmpeg_program();

// How long one ffmpeg run may take before it is killed.
inline constexpr std::chrono::minutes kDeadline{10};

// Writes the first audio stream of `input` to `output` as FLAC.
[[nodiscard]] boost::asio::awaitable<void> async_transcode_to_flac(std::filesystem::path input,
                                                                   std::filesystem::path output);

// Writes the first video stream of `input`, with its first audio stream when there is one, to
// `output` as MP4: the streams are copied as they are when MP4 can hold them, else re-encoded as
// H.264 and AAC.
[[nodiscard]] boost::asio::awaitable<void> async_convert_to_mp4(std::filesystem::path input,
                                                                std::filesystem::path output);

struct DecodeOptions {
  std::optional<int> sample_rate{};  // none: the stream's own
  std::optional<int> channels{};     // none: the stream's own
  // Past this many decoded bytes the run fails instead of holding more.
  std::size_t output_limit = std::size_t{4} << 30;
};

// Decodes the first audio stream of a media file held in memory (any container and codec ffmpeg
// reads: m4a/AAC, the audio track of mp4/mkv/webm video, opus, wma, amr, ...) into a Sun AU file
// of 24-bit PCM, which libsndfile reads. The bytes go through ffmpeg's standard input, except for
// MP4-family files, whose index may sit after the samples where a pipe cannot seek: those go
// through a private temporary file removed on every path. Throws FfmpegError when ffmpeg finds
// no audio, std::system_error when that file cannot be written; `media` must stay alive until the
// result arrives.
[[nodiscard]] boost::asio::awaitable<std::string> async_decode_audio(std::string_view media,
                                                                     DecodeOptions options = {});

}  // namespace clients::ffmpeg
