#include "qorl_multimodal/modality_converter/audio_to_text/audio_sources.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_sources {

using qorl_core::redaction::redact_url;

boost::asio::awaitable<qorl_core::Bytes> read_audio_source(qorl_core::Logger& logger,
                                                           std::string audio_source,
                                                           std::optional<std::string> proxy) {
  logger.debug("Converting audio source: %s", redact_url(audio_source));
  std::optional<qorl_core::Bytes> audio =
      co_await utils::audio_to_text_utils::async_get_audio_from_file_path(audio_source);
  if (audio) {
    logger.debug("Audio source is a valid audio file path: %s", audio_source);
  } else if ((audio =
                  co_await utils::audio_to_text_utils::async_get_audio_from_base64(audio_source))) {
    logger.debug("Audio source is a valid base64 encoded audio string: %s", audio_source);
  } else if ((audio = co_await utils::audio_to_text_utils::get_audio_from_downloadable_url(
                  audio_source))) {
    logger.debug("Audio source is a valid downloadable audio URL: %s", redact_url(audio_source));
  } else if ((audio = co_await utils::audio_to_text_utils::async_get_audio_from_youtube_url(
                  audio_source, proxy))) {
    logger.debug("Audio source is a valid YouTube URL: %s", redact_url(audio_source));
  } else {
    throw qorl_core::ValueError("Unsupported audio source");
  }
  co_return std::move(*audio);
}

boost::asio::awaitable<LocatedAudio> locate_audio_source(qorl_core::Logger& logger,
                                                         std::string audio_source,
                                                         std::optional<std::string> proxy) {
  std::optional<utils::audio_to_text_utils::AudioFile> file;
  if (std::optional<std::filesystem::path> path =
          utils::audio_to_text_utils::get_audio_file_path(audio_source)) {
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
