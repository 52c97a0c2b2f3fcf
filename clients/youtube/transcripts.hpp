// YouTube's caption tracks as its web clients reach them: the watch page (with the cookie
// consent retry) gives the innertube API key, the innertube player answer lists the tracks, and
// each track's timed text is a small XML document. A value-type client over an abstract
// connection, whose default implementation uses the REST stub. Every failure is a kind of
// CouldNotRetrieveTranscript.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clients/http/policy.hpp"
#include "clients/youtube/transcript_errors.hpp"

namespace clients::youtube {

inline constexpr const char* YOUTUBE_BASE_URL = "https://www.youtube.com";

// Proxy URLs by the scheme of the request; when only one is given it serves both.
struct GenericProxyConfig {
  std::optional<std::string> http_url;
  std::optional<std::string> https_url;
};

struct TranscriptClientOptions {
  std::optional<GenericProxyConfig> proxy_config;
  // None: env QORL_YOUTUBE_BASE_URL, else YOUTUBE_BASE_URL.
  std::optional<std::string> base_url;
  // Retries, limits of each request and the answers' cap.
  http::CallPolicy policy = http::default_call_policy();
};

// One caption track of a video.
struct Transcript {
  std::string video_id;
  std::string language;  // the track's display name, such as "English (auto-generated)"
  std::string language_code;
  bool is_generated = false;  // true for automatic speech recognition captions
  // Where the timed text is; it carries signatures, so it is never logged or put in messages.
  std::string url;
  bool is_translatable = false;  // YouTube translates it into its translation languages
};

struct TranscriptSnippet {
  std::string text;
  double start = 0.0;     // seconds
  double duration = 0.0;  // seconds
};

struct FetchedTranscript {
  std::string video_id;
  std::string language;
  std::string language_code;
  bool is_generated = false;
  std::vector<TranscriptSnippet> snippets;
};

// The tracks of one video, in YouTube's order.
class TranscriptList {
 public:
  TranscriptList() = default;
  TranscriptList(std::string video_id, std::vector<Transcript> tracks,
                 std::vector<std::string> translation_languages = {})
      : video_id_(std::move(video_id)),
        tracks_(std::move(tracks)),
        translation_languages_(std::move(translation_languages)) {}

  const std::string& video_id() const noexcept { return video_id_; }
  const std::vector<Transcript>& tracks() const noexcept { return tracks_; }
  auto begin() const noexcept { return tracks_.begin(); }
  auto end() const noexcept { return tracks_.end(); }

  // The track of the first code in `language_codes` that has one, a manually created track
  // before a generated one. Throws NoTranscriptFound.
  const Transcript& find_transcript(const std::vector<std::string>& language_codes) const;

  // The codes of the languages YouTube translates the video's tracks into.
  const std::vector<std::string>& translation_languages() const noexcept {
    return translation_languages_;
  }
  // `track` translated by YouTube into `language_code`; none when the track is not translatable
  // or the video offers no such translation.
  std::optional<Transcript> translated(const Transcript& track,
                                       const std::string& language_code) const;

 private:
  std::string video_id_;
  std::vector<Transcript> tracks_;
  std::vector<std::string> translation_languages_;
};

class TranscriptConnection {
 public:
  virtual ~TranscriptConnection() = default;
  // The video's caption tracks.
  virtual boost::asio::awaitable<TranscriptList> list_transcripts(std::string video_id) = 0;
  // One track's timed text.
  virtual boost::asio::awaitable<FetchedTranscript> fetch_transcript(Transcript track) = 0;
};

std::shared_ptr<TranscriptConnection> make_transcript_connection(
    TranscriptClientOptions options = {});

class TranscriptClient {
 public:
  explicit TranscriptClient(TranscriptClientOptions options = {})
      : connection_(make_transcript_connection(std::move(options))) {}
  explicit TranscriptClient(std::shared_ptr<TranscriptConnection> connection)
      : connection_(std::move(connection)) {}

  [[nodiscard]] boost::asio::awaitable<TranscriptList> list(std::string video_id) const {
    return connection_->list_transcripts(std::move(video_id));
  }
  // The transcript in the first of `languages` the video has (see find_transcript).
  [[nodiscard]] boost::asio::awaitable<FetchedTranscript> fetch(
      std::string video_id, std::vector<std::string> languages = {"en"}) const;
  // The timed text of one track of a list.
  [[nodiscard]] boost::asio::awaitable<FetchedTranscript> fetch(Transcript track) const {
    return connection_->fetch_transcript(std::move(track));
  }

 private:
  std::shared_ptr<TranscriptConnection> connection_;
};

}  // namespace clients::youtube
