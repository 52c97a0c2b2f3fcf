// HTTP(S) on libcurl: an asynchronous client driven by the asio event loop through curl's multi
// interface (no thread per request).
// TLS verification is always on; only http and https are spoken.
#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clients/common/service_error.hpp"

namespace clients::http {

// A transfer that did not complete: refused connection, bad URL, time-out, TLS failure, ...
// A completed transfer with any status (404 included) is a Response, not an Error.
// Service "HTTP", no HTTP status; its code names the kind; retryable when the failure was the
// network's or the server's, not the request's (kConnect, kTimeout, kTransfer).
class Error : public ServiceError {
 public:
  enum class Kind {
    kOther,     // a bad URL or request, a refused certificate, too many redirects, ...
    kConnect,   // no connection was made: the request never reached the server
    kTimeout,   // the time limit or the stall guard ended the transfer
    kTransfer,  // the connection broke or the server closed it without a full answer
    kTooLarge,  // the answer's body passed its size cap
  };
  explicit Error(const std::string& what, Kind kind = Kind::kOther);
  Kind kind() const noexcept { return kind_; }
  // Attempts made before giving up: 1 for a single transfer, more when a call retried.
  int attempts() const noexcept { return attempts_; }
  void set_attempts(int attempts) noexcept { attempts_ = attempts; }

 private:
  Kind kind_;
  int attempts_ = 1;
};

// Limits every transfer has unless its request says otherwise.
inline constexpr std::chrono::milliseconds DEFAULT_CONNECT_TIMEOUT{10000};
// Answers of services (JSON, transcripts) are small; media downloads set their own cap.
inline constexpr std::uint64_t DEFAULT_MAX_BODY_BYTES = std::uint64_t{64} << 20;

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method = "GET";
  std::string url;
  // Appended to the URL's query, percent-encoded, in order.
  std::vector<std::pair<std::string, std::string>> query;
  Headers headers;
  std::string body;
  // Sent instead of `body` when set: the attempts of one call share one large body.
  std::shared_ptr<const std::string> shared_body;
  // Total time for the whole exchange (connect, headers, body); none for no limit.
  std::optional<std::chrono::milliseconds> timeout;
  // Time until the final answer's headers have arrived (connecting and redirects included);
  // the body is then limited only by the stall guard and `timeout`. None for no limit.
  std::optional<std::chrono::milliseconds> answer_timeout;
  // Name lookup and TCP/TLS handshakes must end within this.
  std::chrono::milliseconds connect_timeout = DEFAULT_CONNECT_TIMEOUT;
  // Abort a transfer that moves fewer than `low_speed_limit` bytes/s for `low_speed_time`:
  // catches stalled servers without capping long downloads.
  std::optional<std::chrono::seconds> low_speed_time;
  long low_speed_limit = 1;
  // The transfer fails (Error::Kind::kTooLarge) once the body passes this many bytes; nothing
  // partial is returned. Streamed bodies count too, and a compressed body counts decoded.
  std::uint64_t max_body_bytes = DEFAULT_MAX_BODY_BYTES;
  // Ask for the body as it is stored ("Accept-Encoding: identity"): media gain nothing from
  // compression, and the size the server announces is then the size received.
  bool identity_encoding = false;
  // Up to 10 redirects. A hop to another scheme, host or port carries no credential header
  // (Authorization, Cookie, API keys, x-amz-*).
  bool follow_redirects = true;
  // "http://host:port" or "socks5://..."; none uses the session's, then the environment's
  // (http_proxy, https_proxy, all_proxy and no_proxy, as curl reads them). An explicit proxy
  // is used for every host, whatever no_proxy says.
  std::optional<std::string> proxy;
  // When set, body bytes are handed here as they arrive and Response::body stays empty. It runs
  // inside the transfer: it must not send on, or close, the session. Throwing aborts the transfer
  // and the exception reaches the caller.
  std::function<void(std::string_view chunk)> on_body_chunk;
};

struct Response {
  long status = 0;
  std::string reason;  // reason phrase of the status line ("Not Found")
  Headers headers;     // of the final response, in the order received
  std::string body;
  std::string effective_url;  // after redirects
  // Attempts the call made to get this answer (1 for a single transfer).
  int attempts = 1;

  // The first header of that name, compared case-insensitively.
  std::optional<std::string> header(std::string_view name) const;
  bool ok() const noexcept { return status >= 200 && status < 300; }
};

struct SessionOptions {
  // For every request that names none; none: the environment's, as curl reads it.
  std::optional<std::string> proxy;
  std::string user_agent = "qorl-multimodal";
  // Keep cookies across the session's requests. Either way a request keeps the cookies set
  // along its own redirects.
  bool cookies = true;
};

// A set of transfers sharing connections, name lookups and cookies, run on one executor (a
// strand to share it between threads). send() may be called from any thread; close() and
// cookie() only where the executor's handlers cannot run meanwhile. Close it when done; the
// destructor closes it too.
class Session {
 public:
  explicit Session(boost::asio::any_io_executor executor, SessionOptions options = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Sends one request and reads the whole response (or streams it to on_body_chunk).
  // Throws Error when the transfer fails; cancellation aborts the transfer and propagates as
  // boost::system::system_error(operation_aborted).
  [[nodiscard]] boost::asio::awaitable<Response> send(Request request);

  // Aborts what is in flight and releases connections. Idempotent.
  void close();
  bool is_closed() const noexcept;

  // Cookie value by name from the session's cookie store, if any was set.
  std::optional<std::string> cookie(std::string_view name) const;

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

// The session of `executor`'s execution context, for requests that come without one: their
// connections and name lookups are reused, their cookies are not shared. Its transfers run on a
// strand of `executor` (the first caller's), so any thread of the context may use it; it is
// closed when the context shuts down.
Session& shared_session(const boost::asio::any_io_executor& executor);

// One request on `session`, or on the shared session of the caller's execution context.
[[nodiscard]] boost::asio::awaitable<Response> fetch(Request request, Session* session = nullptr);

// multipart/form-data bodies, as browsers and official SDK clients send them.
struct FormPart {
  std::string name;
  std::string data;
  std::optional<std::string> filename;
  std::optional<std::string> content_type;
};

struct EncodedForm {
  std::string content_type;  // "multipart/form-data; boundary=..."
  std::string body;
};

EncodedForm encode_multipart(const std::vector<FormPart>& parts);

// Percent-encoding of one URL component (RFC 3986 unreserved characters kept).
std::string url_encode(std::string_view text);

// The URL as messages may show it: scheme, host, port and path, without user information,
// query or fragment (where signatures and keys travel). A text that is no URL gives "<url>".
std::string describe_url(std::string_view url);

}  // namespace clients::http
