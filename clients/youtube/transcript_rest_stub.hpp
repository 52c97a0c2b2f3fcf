// The HTTP exchanges of the transcript client, as YouTube's web clients send them, on one
// session (connections and cookies shared by its requests) under the common call policy.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <optional>
#include <string>

#include "clients/http/http.hpp"
#include "clients/http/policy.hpp"
#include "clients/youtube/transcripts.hpp"

namespace clients::youtube::internal {

// The proxy for a request to `url` under `config`: the URL of its scheme, else the other one.
std::optional<std::string> proxy_for(const std::optional<GenericProxyConfig>& config,
                                     const std::string& url);

class TranscriptRestStub {
 public:
  // `session` must outlive the stub's exchanges.
  TranscriptRestStub(const TranscriptClientOptions& options, http::Session& session);

  // GET /watch?v=<id>, with `cookie` as the Cookie header when not empty.
  boost::asio::awaitable<http::Response> get_watch_page(std::string video_id, std::string cookie);
  // POST /youtubei/v1/player?key=<api_key> asking for the video as the Android app does.
  boost::asio::awaitable<http::Response> post_player(std::string api_key, std::string video_id,
                                                     std::string cookie);
  // GET of a track's timed text address.
  boost::asio::awaitable<http::Response> get_timed_text(std::string url);

  // Each throws http::Error when the exchange does not complete.

 private:
  boost::asio::awaitable<http::Response> send(http::Request request);

  std::string base_url_;
  std::optional<GenericProxyConfig> proxy_config_;
  http::CallPolicy policy_;
  http::Session& session_;
};

}  // namespace clients::youtube::internal
