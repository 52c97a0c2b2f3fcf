#include "clients/google/drive.hpp"

#include <strings.h>
#include <boost/asio/this_coro.hpp>

#include "clients/common/url.hpp"
#include "clients/google/rest.hpp"

// GCC 12 at -O2 takes asio's coroutine frame allocator and deallocator for a mismatched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace clients::google {
namespace {

constexpr std::string_view WARNING_COOKIE_PREFIX = "download_warning";

// The value of the first Set-Cookie whose name starts with `prefix`.
std::optional<std::string> cookie_with_prefix(const http::Response& response,
                                              std::string_view prefix) {
  for (const auto& [name, value] : response.headers) {
    if (name.size() != 10 || strncasecmp(name.c_str(), "set-cookie", 10) != 0) continue;
    const auto equals = value.find('=');
    if (equals == std::string::npos ||
        !std::string_view(value).substr(0, equals).starts_with(prefix)) {
      continue;
    }
    return value.substr(equals + 1, value.find(';') - equals - 1);
  }
  return std::nullopt;
}

// "404 Client Error: Not Found for url: ..." as HTTP libraries word a failed status.
HttpError status_error(const http::Response& response, const std::string& url) {
  const char* kind = response.status >= 500 ? "Server Error" : "Client Error";
  return HttpError(response.status, std::to_string(response.status) + " " + kind + ": " +
                                        response.reason + " for url: " + url);
}

// "HttpError 404 when requesting <url> returned "File not found: x."", from the JSON error.
HttpError api_error(const http::Response& response, const std::string& url) {
  internal::ApiError error = internal::api_error(response);
  return HttpError(response.status,
                   "HttpError " + std::to_string(response.status) + " when requesting " + url +
                       " returned \"" + error.message + "\"",
                   std::move(error.status));
}

// The size after the "/" of a Content-Range ("bytes 0-9/100"); none for "*".
std::optional<std::uint64_t> range_total(const std::string& content_range) {
  const auto slash = content_range.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  const std::string total = content_range.substr(slash + 1);
  if (total.empty() || total.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoull(total);
}

class RestDriveConnection final : public DriveConnection {
 public:
  explicit RestDriveConnection(DriveOptions options)
      : web_(common::resolve_base_url(options.web_base_url, {"QORL_GDRIVE_BASE_URL"},
                                      DRIVE_WEB_BASE_URL)),
        api_(common::resolve_base_url(options.api_base_url, {"QORL_GOOGLEAPIS_BASE_URL"},
                                      GOOGLEAPIS_BASE_URL)),
        credentials_(std::move(options.credentials)),
        policy_(std::move(options.policy)) {}

  boost::asio::awaitable<std::string> download_public(std::string file_id) override {
    const auto executor = co_await boost::asio::this_coro::executor;
    // One session: the confirmation goes with the warning's cookies.
    http::Session session(executor);
    http::Request request;
    request.url = web_ + "/uc";
    request.query = {{"export", "download"}, {"id", file_id}};
    http::Response response = co_await download(request, session);
    // Files too large for a virus scan answer a warning page first; confirming is allowed once.
    if (auto token = cookie_with_prefix(response, WARNING_COOKIE_PREFIX)) {
      request.query.emplace_back("confirm", *token);
      response = co_await download(request, session);
    }
    if (response.status >= 400) {
      throw status_error(response, web_ + "/uc?export=download&id=" + http::url_encode(file_id));
    }
    co_return std::move(response.body);
  }

  boost::asio::awaitable<MediaChunk> get_media(std::string file_id, std::uint64_t first,
                                               std::uint64_t last) override {
    if (!credentials_) throw Error("Drive API requests need credentials");
    const std::string url = api_ + "/drive/v3/files/" + http::url_encode(file_id);
    const std::string token = co_await credentials_->access_token();
    http::Request request;
    request.url = url;
    request.query = {{"alt", "media"}};
    request.headers = {{"Authorization", "Bearer " + token},
                       {"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}};
    http::Response response = co_await download(request);

    const std::string described = url + "?alt=media";
    if (response.status == 200 || response.status == 206) {
      MediaChunk chunk{std::move(response.body), std::nullopt};
      if (auto range = response.header("content-range")) {
        chunk.total_size = range_total(*range);
      } else if (response.status == 200) {
        chunk.total_size = chunk.data.size();  // the whole file in one answer
      }
      // Chunk after chunk would otherwise gather a file of any size.
      if (chunk.total_size && *chunk.total_size > policy_.max_download_bytes) {
        throw http::Error("The answer from " + http::describe_url(described) +
                              " is larger than the limit of " +
                              std::to_string(policy_.max_download_bytes) + " bytes",
                          http::Error::Kind::kTooLarge);
      }
      co_return chunk;
    }
    // A range past the end of an empty file.
    if (response.status == 416) {
      if (auto range = response.header("content-range"); range && range_total(*range) == 0u) {
        co_return MediaChunk{"", 0};
      }
    }
    throw api_error(response, described);
  }

 private:
  // `session` is the caller's, which awaits this at once.
  boost::asio::awaitable<http::Response> download(http::Request request,
                                                  http::Session& session) const {
    http::CallOptions options{http::CallKind::kDownload};
    options.session = &session;
    co_return co_await http::call(std::move(request), policy_, std::move(options));
  }
  boost::asio::awaitable<http::Response> download(http::Request request) const {
    http::CallOptions options{http::CallKind::kDownload};
    co_return co_await http::call(std::move(request), policy_, std::move(options));
  }

  std::string web_;
  std::string api_;
  std::shared_ptr<Credentials> credentials_;
  http::CallPolicy policy_;
};

}  // namespace

std::shared_ptr<DriveConnection> make_drive_connection(DriveOptions options) {
  return std::make_shared<RestDriveConnection>(std::move(options));
}

MediaDownloader::MediaDownloader(DriveClient client, std::string file_id, std::string& buffer,
                                 std::uint64_t chunk_size)
    : client_(std::move(client)),
      file_id_(std::move(file_id)),
      buffer_(buffer),
      chunk_size_(chunk_size) {}

boost::asio::awaitable<bool> MediaDownloader::next_chunk() {
  if (done_) co_return true;
  const std::uint64_t first = progress_.received;
  const std::uint64_t last = first + chunk_size_ - 1;
  MediaChunk chunk = co_await client_.get_media(file_id_, first, last);
  if (chunk.total_size) progress_.total_size = chunk.total_size;
  progress_.received += chunk.data.size();
  buffer_ += chunk.data;
  if (!progress_.total_size || progress_.received >= *progress_.total_size) {
    done_ = true;
  } else if (chunk.data.empty()) {
    // Asking again would get the same empty answer forever.
    throw Error("Drive sent no bytes before the end of the file");
  }
  co_return done_;
}

}  // namespace clients::google
