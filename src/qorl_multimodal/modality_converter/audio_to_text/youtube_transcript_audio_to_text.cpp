#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"

#include <algorithm>
#include <array>
#include <exception>

#include "clients/youtube/yt_dlp.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/utils/pcre_pattern.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::youtube_transcript_audio_to_text {

namespace youtube = clients::youtube;
using qorl_core::redaction::redact_url;
using utils::pcre_pattern::Pattern;

namespace {

const std::vector<std::string> kDefaultLangIds{"id", "en"};

clients::youtube::TranscriptClientOptions client_options(const std::optional<std::string>& proxy) {
  youtube::TranscriptClientOptions options;
  if (proxy && !proxy->empty())
    options.proxy_config = youtube::GenericProxyConfig{std::nullopt, *proxy};
  return options;
}

// Tried in order on the whole text; group 1 is the id. Word characters of every script.
const std::array<Pattern, 3>& video_id_patterns() {
  static const Pattern::Flags unicode{.unicode = true};
  static const std::array<Pattern, 3> patterns{
      Pattern(R"((?:youtube\.com\/(?:watch\?v=|embed\/|v\/|e\/|shorts\/)|youtu\.be\/)([\w-]{11}))",
              unicode),
      Pattern(R"(youtube\.com\/.*[?&]v=([\w-]{11}))", unicode),
      Pattern(R"(youtu\.be\/([\w-]{11}))", unicode),
  };
  return patterns;
}

qorl_core::Value text_list(const std::vector<std::string>& items) {
  return qorl_core::Value(qorl_core::List(items.begin(), items.end()));
}

bool contains(const std::vector<std::string>& items, const std::string& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

// Whether a failure to choose a track means the video has none the settings accept (none at all,
// captions disabled, other languages only), rather than that YouTube could not be asked.
bool lacks_acceptable_captions(const qorl_core::ValueError& error) {
  try {
    std::rethrow_if_nested(error);
  } catch (const youtube::TranscriptsDisabled&) {
    return true;
  } catch (const youtube::NoTranscriptFound&) {
    return true;
  } catch (...) {
    return false;
  }
  return true;  // no cause: no track fits the settings
}

std::vector<AudioTranscript> records_of(const youtube::FetchedTranscript& transcript,
                                        const std::string& lang_id) {
  std::vector<AudioTranscript> transcripts;
  transcripts.reserve(transcript.snippets.size());
  for (const youtube::TranscriptSnippet& snippet : transcript.snippets) {
    AudioTranscript record;
    record.text = snippet.text;
    record.start_time = snippet.start;
    record.end_time = snippet.start + snippet.duration;
    record.lang_id = lang_id;
    transcripts.push_back(std::move(record));
  }
  return transcripts;
}

// The service's refusal of a bot, reworded with what helps, and the service's own error nested.
[[noreturn]] void throw_blocked(const youtube::RequestBlocked& blocked) {
  std::throw_with_nested(RequestBlockedError(
      "YouTube blocked the caption requests for video " + blocked.video_id() + " (" +
      blocked.cause() +
      "). It refuses requests it takes for a bot's from this address: try again later, or "
      "through another address with a proxy (the proxy setting, the command's --proxy)."));
}

}  // namespace

YouTubeTranscriptAudioToText::YouTubeTranscriptAudioToText()
    : YouTubeTranscriptAudioToText(Params{}) {}

YouTubeTranscriptAudioToText::YouTubeTranscriptAudioToText(Params params)
    : preferred_lang_ids(params.preferred_lang_ids && !params.preferred_lang_ids->empty()
                             ? std::move(*params.preferred_lang_ids)
                             : kDefaultLangIds),
      allow_non_preferred_lang_ids(params.allow_non_preferred_lang_ids),
      allow_auto_generated_transcripts(params.allow_auto_generated_transcripts),
      proxy(std::move(params.proxy)),
      fallback_backend(std::move(params.fallback_backend)),
      translate_to(std::move(params.translate_to)),
      youtube_transcript_api(client_options(proxy)) {}

boost::asio::awaitable<std::vector<AudioTranscript>> YouTubeTranscriptAudioToText::convert(
    std::string audio_source) {
  RoutedTranscript routed = co_await transcribe(std::move(audio_source));
  co_return std::move(routed.transcripts);
}

boost::asio::awaitable<YouTubeTranscriptAudioToText::RoutedTranscript>
YouTubeTranscriptAudioToText::transcribe(std::string audio_source) {
  logger().debug("Converting YouTube URL: %s", redact_url(audio_source));
  const std::string video_id = co_await _extract_video_id(audio_source);
  logger().debug("Extracted video ID: %s", video_id);
  std::optional<std::string> lang_id;
  try {
    lang_id = co_await _select_best_transcript_lang_id(video_id);
  } catch (const qorl_core::ValueError& error) {
    if (!fallback_backend || !lacks_acceptable_captions(error)) throw;
    logger().debug("No acceptable captions (%s); transcribing the audio instead", error.what());
  }
  if (!lang_id) {
    RoutedTranscript routed;
    routed.via = Route::kFallback;
    routed.transcripts = co_await fallback_backend->convert(audio_source);
    co_return routed;
  }
  logger().debug("Selected language ID: %s", *lang_id);
  RoutedTranscript routed;
  if (translate_to && !translate_to->empty() && *translate_to != *lang_id) {
    auto translated = co_await _get_translated_transcript(video_id, *lang_id, *translate_to);
    if (translated) {
      routed.transcripts = std::move(*translated);
      co_return routed;
    }
    logger().debug("No translation into %s offered; the captions in %s are kept", *translate_to,
                   *lang_id);
  }
  routed.transcripts = co_await _get_transcript(video_id, *lang_id);
  co_return routed;
}

boost::asio::awaitable<std::string> YouTubeTranscriptAudioToText::_extract_video_id(
    std::string audio_source) const {
  youtube::YoutubeDLOptions options;
  options.noplaylist = true;
  options.quiet = true;
  if (proxy && !proxy->empty()) options.proxy = *proxy;
  std::string error_message;
  try {
    const youtube::YoutubeDL tool(options);
    const youtube::VideoInfo info =
        co_await tool.async_extract_info(audio_source, /*download=*/false);
    if (info.id) co_return *info.id;
    error_message = "yt-dlp reported no video id";
  } catch (const youtube::DownloadError& e) {
    error_message = e.what();
  }
  logger().debug("yt-dlp failed to extract video ID, trying regex fallback. Error: %s",
                 error_message);
  for (const Pattern& pattern : video_id_patterns()) {
    if (std::optional<std::string> id = pattern.search(audio_source)) co_return *id;
  }
  throw qorl_core::ValueError("Unable to identify video ID from the provided YouTube URL: " +
                              redact_url(audio_source) + ". yt-dlp error: " + error_message);
}

boost::asio::awaitable<std::string> YouTubeTranscriptAudioToText::_select_best_transcript_lang_id(
    std::string video_id) const {
  std::vector<std::string> manual_lang_ids, generated_lang_ids;
  try {
    const youtube::TranscriptList tracks = co_await youtube_transcript_api.list(video_id);
    for (const youtube::Transcript& track : tracks) {
      (track.is_generated ? generated_lang_ids : manual_lang_ids).push_back(track.language_code);
    }
  } catch (const youtube::RequestBlocked& e) {
    throw_blocked(e);
  } catch (const youtube::CouldNotRetrieveTranscript& e) {
    std::throw_with_nested(qorl_core::ValueError(
        "Failed to fetch available transcripts - Video ID: " + video_id + ", Error: " + e.what()));
  }
  logger().debug("Available manual language IDs: %s", text_list(manual_lang_ids));
  logger().debug("Available auto generated language IDs: %s", text_list(generated_lang_ids));

  for (const std::string& lang_id : preferred_lang_ids) {
    if (contains(manual_lang_ids, lang_id)) co_return lang_id;
  }
  if (allow_non_preferred_lang_ids && !manual_lang_ids.empty()) co_return manual_lang_ids.front();
  if (allow_auto_generated_transcripts) {
    for (const std::string& lang_id : preferred_lang_ids) {
      if (contains(generated_lang_ids, lang_id)) co_return lang_id;
    }
    if (allow_non_preferred_lang_ids && !generated_lang_ids.empty()) {
      co_return generated_lang_ids.front();
    }
  }
  throw qorl_core::ValueError(
      "No suitable transcript found - either no transcripts are available in preferred "
      "languages, or auto-generated/non-preferred language transcripts are disabled in settings");
}

boost::asio::awaitable<std::vector<AudioTranscript>> YouTubeTranscriptAudioToText::_get_transcript(
    std::string video_id, std::string lang_id) const {
  logger().debug("Getting transcript for video ID: %s, language ID: %s", video_id, lang_id);
  youtube::FetchedTranscript transcript;
  try {
    std::vector<std::string> languages{lang_id};
    transcript = co_await youtube_transcript_api.fetch(video_id, std::move(languages));
  } catch (const youtube::RequestBlocked& e) {
    throw_blocked(e);
  } catch (const youtube::CouldNotRetrieveTranscript& e) {
    std::throw_with_nested(
        qorl_core::ValueError("Failed to fetch transcript - Video ID: " + video_id +
                              ", Language: " + lang_id + ", with error: " + e.what()));
  }
  logger().debug("Successfully fetched transcript with %d snippets", transcript.snippets.size());
  co_return records_of(transcript, lang_id);
}

boost::asio::awaitable<std::optional<std::vector<AudioTranscript>>>
YouTubeTranscriptAudioToText::_get_translated_transcript(std::string video_id, std::string lang_id,
                                                         std::string target) const {
  logger().debug("Getting transcript for video ID: %s, language ID: %s, translated into %s",
                 video_id, lang_id, target);
  youtube::FetchedTranscript transcript;
  try {
    const youtube::TranscriptList tracks = co_await youtube_transcript_api.list(video_id);
    std::optional<youtube::Transcript> translated =
        tracks.translated(tracks.find_transcript({lang_id}), target);
    if (!translated) co_return std::nullopt;
    transcript = co_await youtube_transcript_api.fetch(std::move(*translated));
  } catch (const youtube::RequestBlocked& e) {
    throw_blocked(e);
  } catch (const youtube::CouldNotRetrieveTranscript& e) {
    std::throw_with_nested(qorl_core::ValueError(
        "Failed to fetch transcript - Video ID: " + video_id + ", Language: " + lang_id +
        " translated into " + target + ", with error: " + e.what()));
  }
  co_return records_of(transcript, target);
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::youtube_transcript_audio_to_text
