// The audio of a source text as the Whisper and Google Cloud backends read it.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>
#include <variant>

#include "qorl_core/logger_manager.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_sources {

// Tries the source as a local file path, base64 text, a downloadable URL and a YouTube URL
// (downloaded through `proxy`), in this order, and logs to `logger` which kind it was. Throws
// ValueError "Unsupported audio source" when none yields audio. yt-dlp is awaited, and only
// http(s) URLs reach it. `logger` is the awaiting converter's own, alive as long as it is.
boost::asio::awaitable<qorl_core::Bytes> read_audio_source(qorl_core::Logger& logger,
                                                           std::string audio_source,
                                                           std::optional<std::string> proxy);

// The same, except that a local file stays on disk, so that a long recording is never held
// whole: the file when libsndfile reads it, else ffmpeg's FLAC of it.
using LocatedAudio = std::variant<utils::audio_to_text_utils::AudioFile, qorl_core::Bytes>;
boost::asio::awaitable<LocatedAudio> locate_audio_source(qorl_core::Logger& logger,
                                                         std::string audio_source,
                                                         std::optional<std::string> proxy);

}  // namespace qorl_multimodal::modality_converter::audio_to_text::audio_sources
