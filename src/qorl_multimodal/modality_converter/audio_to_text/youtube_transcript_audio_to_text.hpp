// An audio to text converter using YouTube Transcript API.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clients/youtube/transcripts.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::youtube_transcript_audio_to_text {

using schema::audio_transcript::AudioTranscript;

// YouTube refused the requests for the video's captions as a bot's (its sign-in check, a 429 or
// a captcha): another address, through a proxy, may get them. The service's error is nested.
class RequestBlockedError : public qorl_core::ValueError {
 public:
  using qorl_core::ValueError::ValueError;
};

// Reads the captions YouTube already holds for a video instead of transcribing its audio,
// choosing the track by language preference and two permissions.
class YouTubeTranscriptAudioToText : public audio_to_text::BaseAudioToText {
 public:
  struct Params {
    // In order of preference; none or empty: "id", "en".
    std::optional<std::vector<std::string>> preferred_lang_ids{};
    bool allow_non_preferred_lang_ids = false;
    bool allow_auto_generated_transcripts = false;
    // For the requests to YouTube (transcripts and yt-dlp).
    std::optional<std::string> proxy{};
    // Transcribes the link when the video has no acceptable captions (none, disabled, or none
    // in a language the settings accept); the backend fetches the audio its own way.
    std::shared_ptr<audio_to_text::BaseAudioToText> fallback_backend{};
    // A language code: the chosen captions, when in another language, are fetched as YouTube's
    // translation into it where the video offers one (the records then carry this code).
    std::optional<std::string> translate_to{};
  };

  // What produced a transcript.
  enum class Route { kCaptions, kFallback };
  struct RoutedTranscript {
    std::vector<AudioTranscript> transcripts;
    Route via = Route::kCaptions;
  };

  YouTubeTranscriptAudioToText();
  // Sends no request.
  explicit YouTubeTranscriptAudioToText(Params params);

  // The transcript of the video a YouTube link names. Blocks the calling thread for its
  // exchanges with yt-dlp and YouTube.
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override;

  // The same, saying whether the captions or the fallback backend produced it.
  // RequestBlockedError when YouTube refuses the requests as a bot's.
  boost::asio::awaitable<RoutedTranscript> transcribe(std::string audio_source);

  std::vector<std::string> preferred_lang_ids;
  bool allow_non_preferred_lang_ids;
  bool allow_auto_generated_transcripts;
  std::optional<std::string> proxy;
  std::shared_ptr<audio_to_text::BaseAudioToText> fallback_backend;
  std::optional<std::string> translate_to;
  clients::youtube::TranscriptClient youtube_transcript_api;

 protected:
  // One record per snippet of the track in `lang_id`; ValueError (the service's error nested)
  // when it cannot be fetched.
  boost::asio::awaitable<std::vector<AudioTranscript>> _get_transcript(std::string video_id,
                                                                       std::string lang_id) const;

  // The track in `lang_id` as YouTube translates it into `target`; none when the video offers no
  // such translation. ValueError as for _get_transcript.
  boost::asio::awaitable<std::optional<std::vector<AudioTranscript>>> _get_translated_transcript(
      std::string video_id, std::string lang_id, std::string target) const;

  // Manual tracks in a preferred language, then any manual track (when non-preferred languages
  // are allowed), then generated tracks likewise (when allowed). ValueError when none fits.
  boost::asio::awaitable<std::string> _select_best_transcript_lang_id(std::string video_id) const;

  // The id yt-dlp reports (metadata only, nothing downloaded); after yt-dlp's download error,
  // the id found by the link patterns. ValueError when neither gives one; other yt-dlp errors
  // propagate.
  boost::asio::awaitable<std::string> _extract_video_id(std::string audio_source) const;
};

}  // namespace qorl_multimodal::modality_converter::audio_to_text::youtube_transcript_audio_to_text
