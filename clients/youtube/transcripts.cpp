#include "clients/youtube/transcripts.hpp"

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

}  // namespace clients::youtube
