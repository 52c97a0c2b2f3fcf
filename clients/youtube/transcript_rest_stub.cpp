#include "clients/youtube/transcript_rest_stub.hpp"

#include <nlohmann/json.hpp>

#include <utility>

#include "clients/common/url.hpp"

namespace clients::youtube::internal {

namespace {

// The innertube client the player request speaks for: the Android app gets caption tracks
// whose timed text needs no proof-of-origin token.
constexpr const char* kClientName = "ANDROID";
constexpr const char* kClientVersion = "20.10.38";

// Reasons and page texts are compared in English.
const http::Headers& language_headers() {
  static const http::Headers headers{{"Accept-Language", "en-US"}};
  return headers;
}

}  // namespace

std::optional<std::string> proxy_for(const std::optional<GenericProxyConfig>& config,
                                     const std::string& url) {
  if (!config) return std::nullopt;
  const bool https = url.rfind("https:", 0) == 0;
  const auto& preferred = https ? config->https_url : config->http_url;
  const auto& other = https ? config->http_url : config->https_url;
  if (preferred && !preferred->empty()) return preferred;
  if (other && !other->empty()) return other;
  return std::nullopt;
}

TranscriptRestStub::TranscriptRestStub(const TranscriptClientOptions& options,
                                       http::Session& session)
    : base_url_(
          common::resolve_base_url(options.base_url, {"QORL_YOUTUBE_BASE_URL"}, YOUTUBE_BASE_URL)),
      proxy_config_(options.proxy_config),
      policy_(options.policy),
      session_(session) {}

boost::asio::awaitable<http::Response> TranscriptRestStub::send(http::Request request) {
  request.proxy = proxy_for(proxy_config_, request.url);
  http::CallOptions options;
  options.session = &session_;
  co_return co_await http::call(std::move(request), policy_, options);
}

boost::asio::awaitable<http::Response> TranscriptRestStub::get_watch_page(std::string video_id,
                                                                          std::string cookie) {
  http::Request request;
  request.url = base_url_ + "/watch";
  request.query = {{"v", video_id}};
  request.headers = language_headers();
  if (!cookie.empty()) request.headers.emplace_back("Cookie", cookie);
  co_return co_await send(std::move(request));
}

boost::asio::awaitable<http::Response> TranscriptRestStub::post_player(std::string api_key,
                                                                       std::string video_id,
                                                                       std::string cookie) {
  const nlohmann::ordered_json body = {
      {"context", {{"client", {{"clientName", kClientName}, {"clientVersion", kClientVersion}}}}},
      {"videoId", video_id}};
  http::Request request;
  request.method = "POST";
  request.url = base_url_ + "/youtubei/v1/player";
  request.query = {{"key", api_key}};
  request.headers = language_headers();
  request.headers.emplace_back("Content-Type", "application/json");
  if (!cookie.empty()) request.headers.emplace_back("Cookie", cookie);
  request.body = body.dump();
  co_return co_await send(std::move(request));
}

boost::asio::awaitable<http::Response> TranscriptRestStub::get_timed_text(std::string url) {
  http::Request request;
  request.url = url;
  request.headers = language_headers();
  co_return co_await send(std::move(request));
}

}  // namespace clients::youtube::internal
