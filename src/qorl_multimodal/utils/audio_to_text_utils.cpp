#include "qorl_multimodal/utils/audio_to_text_utils.hpp"

#include <stdlib.h>

#include <boost/url/parse.hpp>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <string_view>
#include <vector>

#include "clients/http/policy.hpp"
#include "clients/youtube/ffmpeg.hpp"
#include "clients/youtube/yt_dlp.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_multimodal/utils/pcre_pattern.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"

namespace qorl_multimodal::utils::audio_to_text_utils {

namespace {

namespace fs = std::filesystem;
using qorl_core::redaction::redact_url;

qorl_core::Logger& logger() {
  static const auto instance =
      qorl_core::LoggerManager().get_logger("qorl_multimodal.utils.audio_to_text_utils");
  return *instance;
}

// Only absolute http(s) URLs with a host are fetched; anything else fails before a request.
void check_downloadable_url(const std::string& url) {
  const auto parsed = boost::urls::parse_absolute_uri(url);
  if (!parsed) {
    throw qorl_core::ValueError("Invalid URL " + qorl_core::repr(url) + ": No scheme supplied");
  }
  const auto scheme = parsed->scheme_id();
  if (scheme != boost::urls::scheme::http && scheme != boost::urls::scheme::https) {
    throw qorl_core::ValueError("No connection adapters were found for " +
                                qorl_core::repr(url));
  }
  if (parsed->encoded_host().empty()) {
    throw qorl_core::ValueError("Invalid URL " + qorl_core::repr(url) + ": No host supplied");
  }
}

// A directory of its own under the system's temporary directory, removed with its contents
// when the object goes away.
class PrivateDirectory {
 public:
  PrivateDirectory() {
    std::string pattern = (fs::temp_directory_path() / "qorl-youtube-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), pattern);
    path_ = pattern;
  }
  ~PrivateDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;
  const fs::path& path() const noexcept { return path_; }

 private:
  fs::path path_;
};

// From the start: an optional scheme, an optional www. or m., the main or short-link domain and
// an optional slash with anything but line breaks after it; `$` also accepts one final line
// break. Caseless as Unicode folds case; input that is not UTF-8 simply does not match.
const pcre_pattern::Pattern& youtube_pattern() {
  static const pcre_pattern::Pattern pattern(
      R"(^(https?://)?(www\.|m\.)?(youtube\.com|youtu\.be)(/.*)?$)",
      {.unicode = true, .caseless = true});
  return pattern;
}

}  // namespace

bool is_binary_data_audio(const qorl_core::Bytes& audio_binary_data) {
  try {
    sound_file::Reader reader(audio_binary_data.view());
    std::vector<double> block(static_cast<std::size_t>(sound_file::kBlockFrames) *
                              reader.info().channels);
    while (reader.read(block.data(), sound_file::kBlockFrames) > 0) {
    }
    return true;
  } catch (const std::exception& e) {
    logger().debug("The provided binary data is not a valid audio file with error: %s",
                   e.what());
    return false;
  }
}

std::optional<qorl_core::Bytes> get_audio_from_base64(const std::string& audio_source) {
  try {
    logger().debug("Attempting to decode base64 encoded audio string: %s", audio_source);
    std::optional<std::string> decoded = qorl_core::base64_decode(audio_source);
    if (!decoded) throw qorl_core::ValueError("Invalid base64-encoded string");
    qorl_core::Bytes audio(std::move(*decoded));
    if (!is_binary_data_audio(audio)) return std::nullopt;
    return audio;
  } catch (const std::exception& e) {
    logger().debug(
        "The provided audio source is not a valid base64 encoded audio string with error: %s",
        e.what());
    return std::nullopt;
  }
}

std::optional<qorl_core::Bytes> get_audio_from_file_path(const std::string& audio_source) {
  try {
    logger().debug("Attempting to read audio file from file path: %s", audio_source);
    qorl_core::Bytes audio(qorl_core::read_regular_file(audio_source));
    if (!is_binary_data_audio(audio)) return std::nullopt;
    return audio;
  } catch (const std::exception& e) {
    logger().debug("The provided audio source is not a valid audio file path with error: %s",
                   e.what());
    return std::nullopt;
  }
}

boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_audio_from_downloadable_url(
    std::string audio_source, int timeout) {
  clients::http::Response response;
  std::optional<std::string> error;
  try {
    logger().debug("Attempting to download audio from downloadable URL: %s",
                   redact_url(audio_source));
    check_downloadable_url(audio_source);
    clients::http::Request request;
    request.url = audio_source;
    request.follow_redirects = true;
    // A stall of `timeout` seconds fails; a long transfer that keeps moving does not.
    request.low_speed_time = std::chrono::seconds(timeout);
    request.low_speed_limit = 1;
    clients::http::CallPolicy policy = clients::http::default_call_policy();
    policy.connect_timeout = std::min<std::chrono::milliseconds>(policy.connect_timeout,
                                                                 std::chrono::seconds(timeout));
    clients::http::CallOptions options;
    options.kind = clients::http::CallKind::kDownload;
    response = co_await clients::http::call(std::move(request), policy, options);
  } catch (const std::exception& e) {
    if (qorl_core::is_cancellation(e)) throw;
    error = e.what();
  }
  if (error) {
    logger().debug("The provided audio source is not a valid downloadable URL with error: %s",
                   *error);
    co_return std::nullopt;
  }
  if (response.status != 200) {
    logger().debug("Failed to download audio with response status code: %s", response.status);
    co_return std::nullopt;
  }
  qorl_core::Bytes audio(std::move(response.body));
  if (!is_binary_data_audio(audio)) co_return std::nullopt;
  co_return audio;
}

std::optional<qorl_core::Bytes> get_audio_from_youtube_url(
    const std::string& audio_source, const std::optional<std::string>& proxy) {
  clients::youtube::YoutubeDLOptions options;
  options.format = "m4a/bestaudio/best";
  options.noplaylist = true;
  options.postprocessors = {{"FFmpegExtractAudio", "m4a"}};
  options.quiet = true;
  if (proxy && !proxy->empty()) options.proxy = *proxy;

  logger().debug("Attempting to extract audio from YouTube URL: %s", redact_url(audio_source));
  try {
    // Each call downloads into a directory of its own, so simultaneous downloads of one video
    // never touch each other's file; the directory goes on every path.
    const PrivateDirectory directory;
    options.outtmpl = (directory.path() / "%(id)s.%(ext)s").string();
    const clients::youtube::VideoInfo info =
        clients::youtube::YoutubeDL(options).extract_info(audio_source);
    const std::string video_id = info.id.value_or("");
    if (video_id.empty()) {
      logger().debug("Failed to get video ID from YouTube URL: %s", redact_url(audio_source));
      return std::nullopt;
    }
    // The tool's own report of where the file is after post-processing; id and extension are
    // those from before it.
    const fs::path downloaded =
        info.filepath ? fs::path(*info.filepath)
                      : directory.path() / (video_id + "." + info.ext.value_or("m4a"));
    // libsndfile does not read m4a (AAC): hand over the audio as FLAC.
    const fs::path flac = directory.path() / "flac" / "audio.flac";
    fs::create_directory(flac.parent_path());
    clients::youtube::transcode_to_flac(downloaded, flac);
    return get_audio_from_file_path(flac.string());
  } catch (const std::exception& e) {
    logger().debug("The provided audio source is not a valid YouTube URL with error: %s",
                   e.what());
    return std::nullopt;
  }
}

double get_audio_duration(const qorl_core::Bytes& audio_binary_data) {
  const sound_file::Info info = sound_file::Reader(audio_binary_data.view()).info();
  return static_cast<double>(info.frames) / info.sample_rate;
}

qorl_core::Bytes convert_audio_to_mono_flac(const qorl_core::Bytes& input_audio_bytes) {
  logger().debug("Converting audio to mono FLAC format");
  sound_file::Reader reader(input_audio_bytes.view());
  const int channels = reader.info().channels;
  // FLAC rarely outgrows the raw 3 bytes a sample.
  sound_file::FlacWriter writer(reader.info().sample_rate, 1, sound_file::Subtype::PCM_24,
                                static_cast<std::size_t>(std::max<std::int64_t>(reader.info().frames, 0)) * 3);
  // Block by block: neither the decoded input nor the mono samples are held whole.
  std::vector<double> block(static_cast<std::size_t>(sound_file::kBlockFrames) * channels);
  std::vector<double> mono(static_cast<std::size_t>(sound_file::kBlockFrames));
  while (const std::int64_t n = reader.read(block.data(), sound_file::kBlockFrames)) {
    sound_file::mix_to_mono(block.data(), n, channels, mono.data());
    writer.write(mono.data(), n);
  }
  qorl_core::Bytes flac(writer.finish());
  logger().debug("Successfully converted audio to mono FLAC format");
  return flac;
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
