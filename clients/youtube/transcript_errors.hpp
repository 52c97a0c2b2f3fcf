// Why a video's transcript could not be retrieved, by kind. Every kind derives from
// CouldNotRetrieveTranscript, whose message names the video and the cause in words.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "clients/common/service_error.hpp"

namespace clients::youtube {

// Service "YouTube"; an error status or a failed transfer carries its HTTP status and retryability.
class CouldNotRetrieveTranscript : public ServiceError {
 public:
  CouldNotRetrieveTranscript(std::string video_id, std::string cause,
                             ServiceFailure failure = {"YouTube"});

  const std::string& video_id() const noexcept { return video_id_; }
  // The cause alone, without the video.
  const std::string& cause() const noexcept { return cause_; }

 private:
  std::string video_id_;
  std::string cause_;
};

// The video does not exist (any more).
class VideoUnavailable : public CouldNotRetrieveTranscript {
 public:
  explicit VideoUnavailable(std::string video_id);
};

// YouTube refuses to play the video, for the reason it gives (private, removed, ...).
class VideoUnplayable : public CouldNotRetrieveTranscript {
 public:
  VideoUnplayable(std::string video_id, const std::string& reason,
                  const std::vector<std::string>& subreasons);
};

class TranscriptsDisabled : public CouldNotRetrieveTranscript {
 public:
  explicit TranscriptsDisabled(std::string video_id);
};

// No track in any of the requested languages; the message lists what the video has.
class NoTranscriptFound : public CouldNotRetrieveTranscript {
 public:
  NoTranscriptFound(std::string video_id, const std::vector<std::string>& requested_language_codes,
                    const std::vector<std::string>& manual_language_codes,
                    const std::vector<std::string>& generated_language_codes);
};

// YouTube asks for a sign-in to prove the caller is not a bot.
class RequestBlocked : public CouldNotRetrieveTranscript {
 public:
  explicit RequestBlocked(std::string video_id);

 protected:
  RequestBlocked(std::string video_id, std::string cause, ServiceFailure failure);
};

// Too many requests from this address: an HTTP 429 (`status`) or a captcha instead of the page.
class IpBlocked : public RequestBlocked {
 public:
  explicit IpBlocked(std::string video_id, std::optional<long> status = std::nullopt);
};

class AgeRestricted : public CouldNotRetrieveTranscript {
 public:
  explicit AgeRestricted(std::string video_id);
};

// The track is only served to clients that present a proof-of-origin token.
class PoTokenRequired : public CouldNotRetrieveTranscript {
 public:
  explicit PoTokenRequired(std::string video_id);
};

// The consent page came back although consent was given.
class FailedToCreateConsentCookie : public CouldNotRetrieveTranscript {
 public:
  explicit FailedToCreateConsentCookie(std::string video_id);
};

// A request did not complete, or was answered with an unexpected error status.
class YouTubeRequestFailed : public CouldNotRetrieveTranscript {
 public:
  YouTubeRequestFailed(std::string video_id, const std::string& reason, ServiceFailure failure);
};

// An answer was not in the shape YouTube's pages and APIs have.
class YouTubeDataUnparsable : public CouldNotRetrieveTranscript {
 public:
  YouTubeDataUnparsable(std::string video_id, const std::string& detail);
};

}  // namespace clients::youtube
