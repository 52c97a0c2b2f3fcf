// Utility functions for the audio to text process.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "qorl_core/files.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"

namespace qorl_multimodal::utils::audio_to_text_utils {

// Check if the binary data is a valid audio file: the whole file decodes (every frame).
bool is_binary_data_audio(const qorl_core::Bytes& audio_binary_data);

// The source readers never throw for a bad source: they log the cause at debug level and return
// none, so the caller can try the next kind of source. Their bytes always passed
// is_binary_data_audio.

// Strict standard base64 of an audio file.
std::optional<qorl_core::Bytes> get_audio_from_base64(const std::string& audio_source);

// A local audio file.
std::optional<qorl_core::Bytes> get_audio_from_file_path(const std::string& audio_source);

// The same answers as is_binary_data_audio and get_audio_duration, for awaitables: ffmpeg is
// awaited and decoding runs on the default executor for blocking work, never on a loop of their
// own. By reference, as the audio may be large and callers keep it: each caller awaits these at
// once on bytes it holds.
[[nodiscard]] boost::asio::awaitable<bool> async_is_binary_data_audio(
    const qorl_core::Bytes& audio_binary_data);
[[nodiscard]] boost::asio::awaitable<double> async_get_audio_duration(
    const qorl_core::Bytes& audio_binary_data);
// Why the bytes are no audio (logged as async_is_binary_data_audio does); null when they are.
// By reference, as above.
[[nodiscard]] boost::asio::awaitable<std::exception_ptr> audio_failure(
    const qorl_core::Bytes& audio_binary_data);

// get_audio_from_base64 and get_audio_from_file_path awaited the same way, keeping why an
// existing path holds no audio (base64 text keeps no reason: short words are base64 too).
[[nodiscard]] boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_base64(
    std::string audio_source);
[[nodiscard]] boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_file_path(
    std::string audio_source);

// A local file libsndfile decodes whole (every frame, read from disk a block at a time), left on
// disk: its path. None, without a log line, for anything else, which get_audio_from_file_path
// then reads (through ffmpeg when needed) or reports.
std::optional<std::filesystem::path> get_audio_file_path(const std::string& audio_source);

// A local recording kept on disk: the file itself, or ffmpeg's FLAC of it in a private directory
// removed with the last copy of this.
struct AudioFile {
  std::filesystem::path path;
  std::shared_ptr<const qorl_core::TemporaryDirectory> decoded_in{};  // none: the file itself
};

// ffmpeg's FLAC of a local file libsndfile cannot open (m4a/AAC, the audio of a video, ...),
// decoded whole once to check it; none, without a log line, when ffmpeg or the check fails.
// ffmpeg reads the file from disk: it is never held in memory. Cancellation propagates.
boost::asio::awaitable<std::optional<AudioFile>> async_get_decoded_audio_file(
    std::string audio_source);

// The header of a local regular file libsndfile opens, read without decoding; none otherwise.
std::optional<sound_file::Info> probe_audio_file(const std::string& audio_source);

// Get the audio from a downloadable URL and return its binary data if valid. `timeout` limits,
// in seconds (defaults to 1 minute), the wait for the answer, retries included, and each stall
// of the body, not the whole transfer; the operator's call deadline, when set, stands in for
// it. Cancellation propagates.
boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_audio_from_downloadable_url(
    std::string audio_source, int timeout = 60);
// The same, keeping why an http(s) URL gave no audio.
[[nodiscard]] boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_downloadable_url(
    std::string audio_source, int timeout = 60);

// Extract audio from a YouTube video URL and return it as binary data (FLAC). The download goes
// to a private temporary directory that is removed on every path. `proxy` is used when it is a
// non-empty text. Only http(s) URLs and YouTube links that name no local file reach yt-dlp;
// anything else (a local path) is none at once.
std::optional<qorl_core::Bytes> get_audio_from_youtube_url(
    const std::string& audio_source, const std::optional<std::string>& proxy = std::nullopt);

// The same, with yt-dlp and ffmpeg awaited on the caller's loop, keeping why a YouTube link gave
// no audio; cancelling it kills them, removes the download and rethrows the cancellation.
[[nodiscard]] boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_youtube_url(
    std::string audio_source, std::optional<std::string> proxy = std::nullopt);

// Audio libsndfile cannot open (AAC/m4a, the audio track of mp4/mkv/webm video, opus in WebM,
// wma, amr, ...) is decoded by ffmpeg instead, through its standard input and output, in the
// helpers below and in the source readers above.

// Get the duration of the audio in seconds. Decoding errors propagate.
double get_audio_duration(const qorl_core::Bytes& audio_binary_data);

// Convert audio binary data to mono FLAC format (24-bit samples, the input's sample rate).
// Decoding and encoding errors propagate.
qorl_core::Bytes convert_audio_to_mono_flac(const qorl_core::Bytes& input_audio_bytes);

// The same, with ffmpeg (when needed) awaited on the caller's loop, and the decoding and encoding
// run on `encode_on` when given (else inline).
[[nodiscard]] boost::asio::awaitable<qorl_core::Bytes> async_convert_audio_to_mono_flac(
    qorl_core::Bytes input_audio_bytes,
    std::optional<boost::asio::any_io_executor> encode_on = std::nullopt);

// The same from a recording read a block at a time, with no ffmpeg step; none as soon as the FLAC
// grows past `max_bytes`, so that at most that much is held.
std::optional<qorl_core::Bytes> convert_audio_to_mono_flac_within(
    const sound_file::Recording& recording, std::size_t max_bytes);

// ffmpeg's FLAC of audio libsndfile cannot open (m4a/AAC, ...), written into `directory`: its
// path. The input goes through a file in `directory` too, removed once decoded.
[[nodiscard]] boost::asio::awaitable<std::filesystem::path> async_decode_to_flac_file(
    qorl_core::Bytes audio, std::filesystem::path directory);

// Detect the audio format from binary data: the container's short lower-case name ("wav",
// "flac", "ogg", "mp3", ...), or none.
std::optional<std::string> detect_audio_format(const qorl_core::Bytes& audio_binary_data);

// Check if the audio source is a YouTube URL.
bool is_youtube_url(const std::string& source);

}  // namespace qorl_multimodal::utils::audio_to_text_utils
