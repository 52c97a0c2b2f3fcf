#include "qorl_multimodal/modality_converter/audio_to_text/audio_sources.hpp"

#include "qorl_core/blocking_work.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/unsupported_media.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_sources {

using qorl_core::redaction::redact_url;

boost::asio::awaitable<qorl_core::Bytes> read_audio_source(qorl_core::Logger& logger,
                                                           std::string audio_source,
                                                           std::optional<std::string> proxy) {
  namespace audio_utils = utils::audio_to_text_utils;
  logger.debug("Converting audio source: %s", redact_url(audio_source));
  // The last kind the source was meant as says why none gave audio.
  std::exception_ptr failure;
  const auto found = [&failure](utils::source_utils::Fetched& fetched) {
    if (fetched.failure) failure = fetched.failure;
    return fetched.bytes.has_value();
  };
  utils::source_utils::Fetched audio =
      co_await audio_utils::fetch_audio_from_file_path(audio_source);
  if (found(audio)) {
    logger.debug("Audio source is a valid audio file path: %s", audio_source);
    co_return std::move(*audio.bytes);
  }
  audio = co_await audio_utils::fetch_audio_from_base64(audio_source);
  if (found(audio)) {
    logger.debug("Audio source is a valid base64 encoded audio string: %s", audio_source);
    co_return std::move(*audio.bytes);
  }
  audio = co_await audio_utils::fetch_audio_from_downloadable_url(audio_source);
  if (found(audio)) {
    logger.debug("Audio source is a valid downloadable audio URL: %s", redact_url(audio_source));
    co_return std::move(*audio.bytes);
  }
  audio = co_await audio_utils::fetch_audio_from_youtube_url(audio_source, proxy);
  if (found(audio)) {
    logger.debug("Audio source is a valid YouTube URL: %s", redact_url(audio_source));
    co_return std::move(*audio.bytes);
  }
  qorl_core::throw_with_cause(
      utils::unsupported_media::UnsupportedMediaError("Unsupported audio source"), failure);
}

boost::asio::awaitable<LocatedAudio> locate_audio_source(qorl_core::Logger& logger,
                                                         std::string audio_source,
                                                         std::optional<std::string> proxy) {
  std::optional<utils::audio_to_text_utils::AudioFile> file;
  // Checking a file decodes all of it: CPU work, kept off the loop.
  std::optional<std::filesystem::path> path = co_await qorl_core::run_blocking(
      [&audio_source] { return utils::audio_to_text_utils::get_audio_file_path(audio_source); });
  if (path) {
    file = utils::audio_to_text_utils::AudioFile{std::move(*path)};
  } else {
    file = co_await utils::audio_to_text_utils::async_get_decoded_audio_file(audio_source);
  }
  if (file) {
    logger.debug("Converting audio source: %s", audio_source);
    logger.debug("Audio source is a valid audio file path: %s", audio_source);
    co_return std::move(*file);
  }
  co_return co_await read_audio_source(logger, std::move(audio_source), std::move(proxy));
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::audio_sources
