#include "clients/youtube/transcripts.hpp"

#include <algorithm>

namespace clients::youtube {

const Transcript& TranscriptList::find_transcript(
    const std::vector<std::string>& language_codes) const {
  for (const std::string& code : language_codes) {
    for (const bool generated : {false, true}) {
      for (const Transcript& track : tracks_) {
        if (track.language_code == code && track.is_generated == generated) return track;
      }
    }
  }
  std::vector<std::string> manual, generated;
  for (const Transcript& track : tracks_) {
    (track.is_generated ? generated : manual).push_back(track.language_code);
  }
  throw NoTranscriptFound(video_id_, language_codes, manual, generated);
}

std::optional<Transcript> TranscriptList::translated(const Transcript& track,
                                                     const std::string& language_code) const {
  if (!track.is_translatable ||
      std::find(translation_languages_.begin(), translation_languages_.end(), language_code) ==
          translation_languages_.end()) {
    return std::nullopt;
  }
  Transcript out = track;
  // The caption service translates the track named by the address into `tlang`.
  out.url += (out.url.find('?') == std::string::npos ? "?tlang=" : "&tlang=") + language_code;
  out.language = track.language + " (translated into " + language_code + ")";
  out.language_code = language_code;
  return out;
}

boost::asio::awaitable<FetchedTranscript> TranscriptClient::fetch(
    std::string video_id, std::vector<std::string> languages) const {
  const TranscriptList tracks = co_await list(std::move(video_id));
  Transcript track = tracks.find_transcript(languages);
  co_return co_await connection_->fetch_transcript(std::move(track));
}

}  // namespace clients::youtube
