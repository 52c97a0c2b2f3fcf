#include "clients/youtube/transcript_errors.hpp"

#include <utility>

namespace clients::youtube {

namespace {

std::string message(const std::string& video_id, const std::string& cause) {
  // The public address, for a person to look at, whatever host the client was pointed to.
  return "Could not retrieve a transcript for the video https://www.youtube.com/watch?v=" +
         video_id + ": " + cause;
}

std::string joined(const std::vector<std::string>& items) {
  if (items.empty()) return "none";
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

CouldNotRetrieveTranscript::CouldNotRetrieveTranscript(std::string video_id, std::string cause,
                                                       ServiceFailure failure)
    : ServiceError(message(video_id, cause), std::move(failure)),
      video_id_(std::move(video_id)),
      cause_(std::move(cause)) {}

VideoUnavailable::VideoUnavailable(std::string video_id)
    : CouldNotRetrieveTranscript(std::move(video_id), "The video is no longer available") {}

VideoUnplayable::VideoUnplayable(std::string video_id, const std::string& reason,
                                 const std::vector<std::string>& subreasons)
    : CouldNotRetrieveTranscript(std::move(video_id), [&] {
        std::string cause =
            "The video is unplayable: " + (reason.empty() ? "no reason given" : reason);
        for (const std::string& detail : subreasons) cause += "; " + detail;
        return cause;
      }()) {}

TranscriptsDisabled::TranscriptsDisabled(std::string video_id)
    : CouldNotRetrieveTranscript(std::move(video_id), "Subtitles are disabled for this video") {}

NoTranscriptFound::NoTranscriptFound(std::string video_id,
                                     const std::vector<std::string>& requested_language_codes,
                                     const std::vector<std::string>& manual_language_codes,
                                     const std::vector<std::string>& generated_language_codes)
    : CouldNotRetrieveTranscript(
          std::move(video_id), "No transcript was found for any of the requested language codes (" +
                                   joined(requested_language_codes) +
                                   "); manually created: " + joined(manual_language_codes) +
                                   "; generated: " + joined(generated_language_codes)) {}

RequestBlocked::RequestBlocked(std::string video_id)
    : RequestBlocked(std::move(video_id),
                     "YouTube is blocking requests from this IP address (it asks to sign in to "
                     "confirm that the caller is not a bot)",
                     {"YouTube"}) {}

RequestBlocked::RequestBlocked(std::string video_id, std::string cause, ServiceFailure failure)
    : CouldNotRetrieveTranscript(std::move(video_id), std::move(cause), std::move(failure)) {}

IpBlocked::IpBlocked(std::string video_id, std::optional<long> status)
    : RequestBlocked(std::move(video_id),
                     "YouTube is rate-limiting requests from this IP address (too many requests)",
                     {"YouTube", status, "", true}) {}

AgeRestricted::AgeRestricted(std::string video_id)
    : CouldNotRetrieveTranscript(
          std::move(video_id),
          "The video is age-restricted; its transcript cannot be retrieved without signing in") {}

PoTokenRequired::PoTokenRequired(std::string video_id)
    : CouldNotRetrieveTranscript(
          std::move(video_id),
          "The transcript is only served with a proof-of-origin (PO) token, which this client "
          "cannot provide") {}

FailedToCreateConsentCookie::FailedToCreateConsentCookie(std::string video_id)
    : CouldNotRetrieveTranscript(std::move(video_id),
                                 "Failed to give consent to YouTube's cookies automatically") {}

YouTubeRequestFailed::YouTubeRequestFailed(std::string video_id, const std::string& reason,
                                           ServiceFailure failure)
    : CouldNotRetrieveTranscript(std::move(video_id), "The request to YouTube failed: " + reason,
                                 std::move(failure)) {}

YouTubeDataUnparsable::YouTubeDataUnparsable(std::string video_id, const std::string& detail)
    : CouldNotRetrieveTranscript(std::move(video_id),
                                 "YouTube's answer could not be understood: " + detail) {}

}  // namespace clients::youtube
