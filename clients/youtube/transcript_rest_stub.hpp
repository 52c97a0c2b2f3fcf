// The HTTP exchanges of the transcript client, as YouTube's web clients send them. Each stub
// owns one blocking HTTP client (connections and cookies shared by its requests).
#pragma once

#include <optional>
#include <string>

#include "clients/http/http.hpp"
#include "clients/youtube/transcripts.hpp"

namespace clients::youtube::internal {

// The given base URL, else env QORL_YOUTUBE_BASE_URL, else YOUTUBE_BASE_URL; no final slash.
std::string resolve_base_url(const std::optional<std::string>& base_url);

// The proxy for a request to `url` under `config`: the URL of its scheme, else the other one.
std::optional<std::string> proxy_for(const std::optional<GenericProxyConfig>& config,
                                     const std::string& url);

class TranscriptRestStub {
 public:
  explicit TranscriptRestStub(const TranscriptClientOptions& options);

  // GET /watch?v=<id>, with `cookie` as the Cookie header when not empty.
  http::Response get_watch_page(const std::string& video_id, const std::string& cookie);
  // POST /youtubei/v1/player?key=<api_key> asking for the video as the Android app does.
  http::Response post_player(const std::string& api_key, const std::string& video_id,
                             const std::string& cookie);
  // GET of a track's timed text address.
  http::Response get_timed_text(const std::string& url);

  // Each throws http::Error when the exchange does not complete.

 private:
  http::Response send(http::Request request);

  std::string base_url_;
  std::optional<GenericProxyConfig> proxy_config_;
  std::chrono::milliseconds timeout_;
  http::BlockingClient client_;
};

}  // namespace clients::youtube::internal
