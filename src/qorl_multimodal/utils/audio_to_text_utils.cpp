#include "qorl_multimodal/utils/audio_to_text_utils.hpp"

#include <boost/asio/error.hpp>
#include <boost/url/parse.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "clients/ffmpeg/ffmpeg.hpp"
#include "clients/http/policy.hpp"
#include "clients/youtube/yt_dlp.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/utils/pcre_pattern.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"

// GCC 12 at -O2 takes asio's coroutine frame allocator and deallocator for a mismatched pair
// in this file's coroutines (a false positive: both are awaitable_frame_base's own).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace qorl_multimodal::utils::audio_to_text_utils {

namespace {

namespace fs = std::filesystem;
using qorl_core::redaction::redact_url;

qorl_core::Logger& logger() {
  return qorl_core::module_logger<"qorl_multimodal.utils.audio_to_text_utils">();
}

// Only absolute http(s) URLs with a host are fetched; anything else fails before a request.
void check_downloadable_url(const std::string& url) {
  const auto parsed = boost::urls::parse_absolute_uri(url);
  if (!parsed) {
    throw qorl_core::ValueError("Invalid URL " + qorl_core::repr(url) + ": No scheme supplied");
  }
  const auto scheme = parsed->scheme_id();
  if (scheme != boost::urls::scheme::http && scheme != boost::urls::scheme::https) {
    throw qorl_core::ValueError("No connection adapters were found for " + qorl_core::repr(url));
  }
  if (parsed->encoded_host().empty()) {
    throw qorl_core::ValueError("Invalid URL " + qorl_core::repr(url) + ": No host supplied");
  }
}

// From the start: an optional scheme, an optional www. or m., the main or short-link domain and
// an optional slash with anything but line breaks after it; `$` also accepts one final line
// break. Caseless as Unicode folds case; input that is not UTF-8 simply does not match.
const pcre_pattern::Pattern& youtube_pattern() {
  static const pcre_pattern::Pattern pattern(
      R"(^(https?://)?(www\.|m\.)?(youtube\.com|youtu\.be)(/.*)?$)",
      {.unicode = true, .caseless = true});
  return pattern;
}

// True when libsndfile opens the file itself.
bool libsndfile_reads(std::string_view file) {
  try {
    sound_file::Reader probe(file);
    return true;
  } catch (const sound_file::SoundFileError&) {
    return false;
  }
}

// The audio as libsndfile reads it: the file itself, or ffmpeg's decoding of it to PCM when
// libsndfile cannot open it (AAC/m4a, the audio of mp4/mkv/webm video, wma, amr, ...). When
// neither reads it, libsndfile's error is the one reported.
class ReadableAudio {
 public:
  explicit ReadableAudio(std::string_view file) : view_(file) {
    if (libsndfile_reads(file)) return;
    try {
      decoded_ = qorl_core::run_sync(clients::ffmpeg::async_decode_audio(file));
    } catch (const std::exception&) {
      sound_file::Reader raises(file);
    }
    view_ = decoded_;
  }
  // Decodes with ffmpeg awaited on the caller's loop.
  static boost::asio::awaitable<ReadableAudio> async_open(std::string_view file) {
    if (libsndfile_reads(file)) co_return ReadableAudio(file);
    std::string decoded;
    try {
      auto decoding = clients::ffmpeg::async_decode_audio(file);
      decoded = co_await qorl_core::holding_a_blocking_thread(std::move(decoding));
    } catch (const std::exception& error) {
      if (qorl_core::is_cancellation(error)) throw;
      sound_file::Reader raises(file);
    }
    co_return ReadableAudio(std::move(decoded));
  }
  ReadableAudio(ReadableAudio&& other) noexcept
      : decoded_(std::move(other.decoded_)),
        view_(decoded_.empty() ? other.view_ : std::string_view(decoded_)) {}
  std::string_view view() const noexcept { return view_; }

 private:
  explicit ReadableAudio(std::string decoded) : decoded_(std::move(decoded)), view_(decoded_) {}
  std::string decoded_;
  std::string_view view_;
};

// Encodes what `reader` reads as mono FLAC of 24-bit samples at its own rate; none as soon as
// the FLAC grows past `max_bytes`.
std::optional<qorl_core::Bytes> encode_mono_flac(sound_file::Reader& reader,
                                                 std::optional<std::size_t> max_bytes) {
  const int channels = reader.info().channels;
  // FLAC rarely outgrows the raw 3 bytes a sample.
  const std::size_t raw_size =
      static_cast<std::size_t>(std::max<std::int64_t>(reader.info().frames, 0)) * 3;
  sound_file::FlacWriter writer(reader.info().sample_rate, 1, sound_file::Subtype::PCM_24,
                                std::min(raw_size, max_bytes.value_or(raw_size)));
  const auto too_large = [&](std::size_t size) { return max_bytes && size > *max_bytes; };
  // Block by block: neither the decoded input nor the mono samples are held whole.
  std::vector<double> block(static_cast<std::size_t>(sound_file::kBlockFrames) * channels);
  std::vector<double> mono(static_cast<std::size_t>(sound_file::kBlockFrames));
  while (const std::int64_t n = reader.read(block.data(), sound_file::kBlockFrames)) {
    sound_file::mix_to_mono(block.data(), n, channels, mono.data());
    writer.write(mono.data(), n);
    if (too_large(writer.size())) return std::nullopt;
  }
  std::string flac = writer.finish();
  if (too_large(flac.size())) return std::nullopt;
  return qorl_core::Bytes(std::move(flac));
}

qorl_core::Bytes encode_mono_flac(std::string_view file) {
  sound_file::Reader reader(file);
  return *encode_mono_flac(reader, std::nullopt);
}

// Reads every frame; a decoding error throws.
void decode_all(sound_file::Reader& reader) {
  std::vector<double> block(static_cast<std::size_t>(sound_file::kBlockFrames) *
                            reader.info().channels);
  while (reader.read(block.data(), sound_file::kBlockFrames) > 0) {
  }
}

// `source` as a local regular file, else none: a FIFO or a device would block or never end, and
// a NUL byte would cut the name short.
std::optional<fs::path> regular_file(const std::string& source) {
  if (source.find('\0') != std::string::npos) return std::nullopt;
  std::error_code error;
  if (!fs::is_regular_file(source, error)) return std::nullopt;
  return fs::path(source);
}

bool starts_with_caseless(std::string_view text, std::string_view prefix) {
  return qorl_core::ascii_lower(text.substr(0, prefix.size())) == prefix;
}

// Only http(s) URLs and YouTube links reach yt-dlp: it would also read a local file, slowly.
bool reaches_yt_dlp(const std::string& source) {
  if (starts_with_caseless(source, "http://") || starts_with_caseless(source, "https://")) {
    return true;
  }
  std::error_code ignored;
  return is_youtube_url(source) && !fs::exists(source, ignored);
}

}  // namespace

bool is_binary_data_audio(const qorl_core::Bytes& audio_binary_data) {
  try {
    const ReadableAudio audio(audio_binary_data.view());
    sound_file::Reader reader(audio.view());
    decode_all(reader);
    return true;
  } catch (const std::exception& e) {
    logger().debug("The provided binary data is not a valid audio file with error: %s", e.what());
    return false;
  }
}

boost::asio::awaitable<bool> async_is_binary_data_audio(const qorl_core::Bytes& audio_binary_data) {
  const std::exception_ptr failure = co_await audio_failure(audio_binary_data);
  co_return !failure;
}

boost::asio::awaitable<std::exception_ptr> audio_failure(
    const qorl_core::Bytes& audio_binary_data) {
  std::exception_ptr failure;
  try {
    const ReadableAudio audio = co_await ReadableAudio::async_open(audio_binary_data.view());
    co_await qorl_core::run_blocking([&audio] {
      sound_file::Reader reader(audio.view());
      decode_all(reader);
    });
  } catch (const std::exception& e) {
    if (qorl_core::is_cancellation(e)) throw;
    logger().debug("The provided binary data is not a valid audio file with error: %s", e.what());
    failure = std::current_exception();
  }
  co_return failure;
}

namespace {

const char* const kNotBase64Audio =
    "The provided audio source is not a valid base64 encoded audio string with error: %s";
const char* const kNotAudioFile =
    "The provided audio source is not a valid audio file path with error: %s";

qorl_core::Bytes decode_base64_audio(const std::string& audio_source) {
  logger().debug("Attempting to decode base64 encoded audio string: %s", audio_source);
  std::optional<std::string> decoded = qorl_core::base64_decode(audio_source);
  if (!decoded) throw qorl_core::ValueError("Invalid base64-encoded string");
  return qorl_core::Bytes(std::move(*decoded));
}

qorl_core::Bytes read_audio_file(const std::string& audio_source) {
  logger().debug("Attempting to read audio file from file path: %s", audio_source);
  return qorl_core::Bytes(qorl_core::read_regular_file(audio_source));
}

// `read(audio_source)`'s bytes when they are audio; none, after `failure_line`, when reading
// fails.
std::optional<qorl_core::Bytes> read_checked_audio(const std::string& audio_source,
                                                   qorl_core::Bytes (*read)(const std::string&),
                                                   const char* failure_line) {
  try {
    qorl_core::Bytes audio = read(audio_source);
    if (!is_binary_data_audio(audio)) return std::nullopt;
    return audio;
  } catch (const std::exception& e) {
    logger().debug(failure_line, e.what());
    return std::nullopt;
  }
}

// The same, awaited, keeping why when `meant` says the source was meant as that kind.
boost::asio::awaitable<source_utils::Fetched> fetch_checked_audio(
    std::string audio_source, qorl_core::Bytes (*read)(const std::string&),
    const char* failure_line, bool meant) {
  std::optional<qorl_core::Bytes> audio;
  try {
    audio = read(audio_source);
  } catch (const std::exception& e) {
    logger().debug(failure_line, e.what());
    co_return source_utils::Fetched{.failure = meant ? std::current_exception() : nullptr};
  }
  std::exception_ptr failure = co_await audio_failure(*audio);
  if (failure) co_return source_utils::Fetched{.failure = meant ? failure : nullptr};
  co_return source_utils::Fetched{std::move(audio)};
}

}  // namespace

std::optional<qorl_core::Bytes> get_audio_from_base64(const std::string& audio_source) {
  return read_checked_audio(audio_source, decode_base64_audio, kNotBase64Audio);
}

boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_base64(std::string audio_source) {
  // Short words are base64 too: no reason is kept for text that decodes to something else.
  return fetch_checked_audio(std::move(audio_source), decode_base64_audio, kNotBase64Audio, false);
}

std::optional<qorl_core::Bytes> get_audio_from_file_path(const std::string& audio_source) {
  return read_checked_audio(audio_source, read_audio_file, kNotAudioFile);
}

boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_file_path(std::string audio_source) {
  std::error_code ignored;
  const bool exists = fs::exists(audio_source, ignored);
  return fetch_checked_audio(std::move(audio_source), read_audio_file, kNotAudioFile, exists);
}

std::optional<fs::path> get_audio_file_path(const std::string& audio_source) {
  try {
    std::optional<fs::path> file = regular_file(audio_source);
    if (!file) return std::nullopt;
    decode_all(*sound_file::Reader::from_disk(*file));
    return file;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<sound_file::Info> probe_audio_file(const std::string& audio_source) {
  const std::optional<fs::path> file = regular_file(audio_source);
  if (!file) return std::nullopt;
  return sound_file::Recording(*file).info();
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_audio_from_downloadable_url(
    std::string audio_source, int timeout) {
  source_utils::Fetched fetched =
      co_await fetch_audio_from_downloadable_url(std::move(audio_source), timeout);
  co_return std::move(fetched.bytes);
}

boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_downloadable_url(
    std::string audio_source, int timeout) {
  clients::http::Response response;
  std::optional<std::string> error;
  std::exception_ptr failure;
  try {
    logger().debug("Attempting to download audio from downloadable URL: %s",
                   redact_url(audio_source));
    check_downloadable_url(audio_source);
    clients::http::Request request;
    request.url = audio_source;
    request.follow_redirects = true;
    request.identity_encoding = true;
    clients::http::CallOptions options;
    options.kind = clients::http::CallKind::kDownload;
    response = co_await clients::http::call(
        std::move(request), clients::http::download_policy(std::chrono::seconds(timeout)), options);
  } catch (const std::exception& e) {
    if (qorl_core::is_cancellation(e)) throw;
    error = e.what();
    if (source_utils::is_web_url(audio_source)) failure = std::current_exception();
  }
  if (error) {
    logger().debug("The provided audio source is not a valid downloadable URL with error: %s",
                   *error);
    co_return source_utils::Fetched{.failure = failure};
  }
  if (response.status != 200) {
    logger().debug("Failed to download audio with response status code: %s", response.status);
    co_return source_utils::Fetched{.failure = std::make_exception_ptr(std::runtime_error(
                                        "Failed to download audio with response status code: " +
                                        std::to_string(response.status)))};
  }
  qorl_core::Bytes audio(std::move(response.body));
  failure = co_await audio_failure(audio);
  if (failure) co_return source_utils::Fetched{.failure = failure};
  co_return source_utils::Fetched{std::move(audio)};
}

std::optional<qorl_core::Bytes> get_audio_from_youtube_url(
    const std::string& audio_source, const std::optional<std::string>& proxy) {
  return qorl_core::run_sync(fetch_audio_from_youtube_url(audio_source, proxy)).bytes;
}

boost::asio::awaitable<source_utils::Fetched> fetch_audio_from_youtube_url(
    std::string audio_source, std::optional<std::string> proxy) {
  if (!reaches_yt_dlp(audio_source)) {
    logger().debug(
        "The provided audio source is not a valid YouTube URL with error: not an http(s) URL");
    co_return source_utils::Fetched{};
  }
  clients::youtube::YoutubeDLOptions options;
  options.format = "m4a/bestaudio/best";
  options.noplaylist = true;
  options.postprocessors = {{"FFmpegExtractAudio", "m4a"}};
  options.quiet = true;
  if (proxy && !proxy->empty()) options.proxy = *proxy;

  logger().debug("Attempting to extract audio from YouTube URL: %s", redact_url(audio_source));
  // Each call downloads into a directory of its own, so simultaneous downloads of one video
  // never touch each other's file; the directory goes on every path, cancellation included.
  std::optional<qorl_core::TemporaryDirectory> directory;
  std::exception_ptr cancelled;
  std::exception_ptr failure;
  try {
    directory.emplace("qorl-youtube");
    options.outtmpl = (directory->path() / "%(id)s.%(ext)s").string();
    const clients::youtube::VideoInfo info =
        co_await clients::youtube::YoutubeDL(options).async_extract_info(audio_source);
    const std::string video_id = info.id.value_or("");
    if (video_id.empty()) {
      logger().debug("Failed to get video ID from YouTube URL: %s", redact_url(audio_source));
      co_return source_utils::Fetched{};
    }
    // The tool's own report of where the file is after post-processing; id and extension are
    // those from before it.
    const fs::path downloaded =
        info.filepath ? fs::path(*info.filepath)
                      : directory->path() / (video_id + "." + info.ext.value_or("m4a"));
    // Handed over as FLAC, which every backend reads without ffmpeg.
    const fs::path flac = directory->path() / "flac" / "audio.flac";
    fs::create_directory(flac.parent_path());
    auto transcoding = clients::ffmpeg::async_transcode_to_flac(downloaded, flac);
    co_await qorl_core::holding_a_blocking_thread(std::move(transcoding));
    co_return source_utils::Fetched{get_audio_from_file_path(flac.string())};
  } catch (const std::exception& e) {
    const auto* system_error = dynamic_cast<const boost::system::system_error*>(&e);
    if (system_error && system_error->code() == boost::asio::error::operation_aborted) {
      cancelled = std::current_exception();
    } else {
      logger().debug("The provided audio source is not a valid YouTube URL with error: %s",
                     e.what());
      failure = std::current_exception();
    }
  }
  // A cancellation is not a bad source: it goes on to the caller.
  if (cancelled) std::rethrow_exception(cancelled);
  // Only a YouTube link was meant for yt-dlp; any other web URL already failed as a download.
  co_return source_utils::Fetched{.failure = is_youtube_url(audio_source) ? failure : nullptr};
}

namespace {

double duration_of(const ReadableAudio& audio) {
  const sound_file::Info info = sound_file::Reader(audio.view()).info();
  return static_cast<double>(info.frames) / info.sample_rate;
}

}  // namespace

double get_audio_duration(const qorl_core::Bytes& audio_binary_data) {
  return duration_of(ReadableAudio(audio_binary_data.view()));
}

boost::asio::awaitable<double> async_get_audio_duration(const qorl_core::Bytes& audio_binary_data) {
  const ReadableAudio audio = co_await ReadableAudio::async_open(audio_binary_data.view());
  co_return duration_of(audio);
}

qorl_core::Bytes convert_audio_to_mono_flac(const qorl_core::Bytes& input_audio_bytes) {
  logger().debug("Converting audio to mono FLAC format");
  qorl_core::Bytes flac = encode_mono_flac(ReadableAudio(input_audio_bytes.view()).view());
  logger().debug("Successfully converted audio to mono FLAC format");
  return flac;
}

boost::asio::awaitable<qorl_core::Bytes> async_convert_audio_to_mono_flac(
    qorl_core::Bytes input_audio_bytes, std::optional<boost::asio::any_io_executor> encode_on) {
  logger().debug("Converting audio to mono FLAC format");
  const ReadableAudio audio = co_await ReadableAudio::async_open(input_audio_bytes.view());
  qorl_core::Bytes flac = co_await qorl_core::run_blocking(
      std::move(encode_on), [&audio] { return encode_mono_flac(audio.view()); });
  logger().debug("Successfully converted audio to mono FLAC format");
  co_return flac;
}

std::optional<qorl_core::Bytes> convert_audio_to_mono_flac_within(
    const sound_file::Recording& recording, std::size_t max_bytes) {
  logger().debug("Converting audio to mono FLAC format");
  std::optional<qorl_core::Bytes> flac = encode_mono_flac(*recording.open(), max_bytes);
  if (flac) logger().debug("Successfully converted audio to mono FLAC format");
  return flac;
}

boost::asio::awaitable<fs::path> async_decode_to_flac_file(qorl_core::Bytes audio,
                                                           fs::path directory) {
  const fs::path input = directory / "input";
  const fs::path output = directory / "decoded.flac";
  {
    std::ofstream out(input, std::ios::binary);
    out.write(audio.str().data(), static_cast<std::streamsize>(audio.size()));
    if (!out.flush()) throw std::runtime_error("Cannot write " + input.string());
  }
  auto transcoding = clients::ffmpeg::async_transcode_to_flac(input, output);
  co_await qorl_core::holding_a_blocking_thread(std::move(transcoding));
  fs::remove(input);
  co_return output;
}

boost::asio::awaitable<std::optional<AudioFile>> async_get_decoded_audio_file(
    std::string audio_source) {
  const std::optional<fs::path> file = regular_file(audio_source);
  if (!file) co_return std::nullopt;
  auto directory = std::make_shared<const qorl_core::TemporaryDirectory>("qorl-audio");
  AudioFile decoded{directory->path() / "decoded.flac", directory};
  bool readable = false;
  try {
    auto transcoding = clients::ffmpeg::async_transcode_to_flac(*file, decoded.path);
    co_await qorl_core::holding_a_blocking_thread(std::move(transcoding));
    // The check decodes the whole recording: CPU work, kept off the loop.
    const fs::path& flac = decoded.path;
    co_await qorl_core::run_blocking([&flac] { decode_all(*sound_file::Reader::from_disk(flac)); });
    readable = true;
  } catch (const std::exception& e) {
    if (qorl_core::is_cancellation(e)) throw;
  }
  if (!readable) co_return std::nullopt;
  co_return decoded;
}

std::optional<std::string> detect_audio_format(const qorl_core::Bytes& audio_binary_data) {
  try {
    const sound_file::Reader reader(audio_binary_data.view());
    const std::optional<std::string> format = sound_file::format_name(reader.info().format);
    if (!format) {
      logger().debug("Audio format attribute not found");
      return std::nullopt;
    }
    logger().debug("Detected audio format: %s", *format);
    return format;
  } catch (const std::exception& e) {
    logger().debug("Failed to detect audio format with error: %s", e.what());
    return std::nullopt;
  }
}

bool is_youtube_url(const std::string& source) {
  return youtube_pattern().search(source, 0).has_value();
}

}  // namespace qorl_multimodal::utils::audio_to_text_utils
