#include "clients/http/exchange.hpp"

#include <boost/beast/http/status.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>
#include <boost/url/url_view.hpp>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <mutex>
#include <string_view>

#include "clients/common/text.hpp"

namespace clients::http {

namespace {

bool same_name(std::string_view a, std::string_view b) {
  return std::ranges::equal(
      a, b, [](char x, char y) { return common::ascii_lower(x) == common::ascii_lower(y); });
}

const char* kind_code(Error::Kind kind) {
  switch (kind) {
    case Error::Kind::kConnect: return "connect";
    case Error::Kind::kTimeout: return "timeout";
    case Error::Kind::kTransfer: return "transfer";
    case Error::Kind::kTooLarge: return "too_large";
    case Error::Kind::kOther: break;
  }
  return "other";
}

}  // namespace

Error::Error(const std::string& what, Kind kind)
    : ServiceError(what,
                   {"HTTP", std::nullopt, kind_code(kind),
                    kind == Kind::kConnect || kind == Kind::kTimeout || kind == Kind::kTransfer}),
      kind_(kind) {}

std::optional<std::string> Response::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (same_name(key, name)) return value;
  }
  return std::nullopt;
}

namespace detail {
namespace {

constexpr int kMaxRedirects = 10;

bool is_redirect_status(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Headers that prove who the caller is: they go to the origin they were meant for only.
bool is_credential_header(std::string_view name) {
  static constexpr std::string_view kNames[] = {"Authorization", "Cookie", "x-goog-api-key",
                                                "x-api-key", "api-key"};
  return std::ranges::any_of(kNames,
                             [&](std::string_view known) { return same_name(name, known); }) ||
         (name.size() >= 6 && same_name(name.substr(0, 6), "x-amz-"));
}

// Scheme, host and port, the port spelled out when the URL leaves it to the scheme.
std::string origin(const boost::urls::url_view_base& url) {
  std::uint16_t port = url.port_number();
  if (!url.has_port()) port = url.scheme_id() == boost::urls::scheme::https ? 443 : 80;
  return common::ascii_lower(url.scheme()) + "://" + common::ascii_lower(url.encoded_host()) + ":" +
         std::to_string(port);
}

std::optional<std::uint64_t> parse_number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The request's URL with its query pairs appended, after the query it has and before its fragment.
std::string with_query(const Request& request) {
  if (request.query.empty()) return request.url;
  const auto parsed = boost::urls::parse_uri_reference(request.url);
  if (!parsed) throw Error("Invalid URL: " + parsed.error().message());
  boost::urls::url url = *parsed;
  auto params = url.encoded_params();
  // A query left open ("?" or "a=1&") takes the first pair in its empty place.
  if (!params.empty()) {
    const auto last = std::prev(params.end());
    if ((*last).key.empty() && !(*last).has_value) params.erase(last);
  }
  for (const auto& [name, value] : request.query)
    params.append({url_encode(name), url_encode(value)});
  return std::string(url.buffer());
}

// curl would take a URL without a scheme as http:// plus a host name ("photo.png" becomes a DNS
// lookup); only absolute URLs are accepted.
void check_url(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
  if (!parsed) throw Error("Cannot parse the URL");
  if (CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0);
      code != CURLUE_OK) {
    throw Error(std::string("Invalid URL: ") + curl_url_strerror(code));
  }
}

template <typename T>
void set(CURL* easy, CURLoption option, T value) {
  if (CURLcode code = curl_easy_setopt(easy, option, value); code != CURLE_OK) {
    throw Error(std::string("Cannot set up the HTTP request: ") + curl_easy_strerror(code));
  }
}

Error::Kind error_kind(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT: return Error::Kind::kConnect;
    case CURLE_OPERATION_TIMEDOUT: return Error::Kind::kTimeout;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR: return Error::Kind::kTransfer;
    default: return Error::Kind::kOther;
  }
}

}  // namespace

void ensure_curl_initialized() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw Error("Cannot initialise libcurl");
  });
}

EasyHandle make_easy() {
  ensure_curl_initialized();
  EasyHandle easy(curl_easy_init());
  if (!easy) throw Error("Cannot create a libcurl handle");
  return easy;
}

Exchange::Exchange(Request request)
    : request_(std::move(request)),
      url_(with_query(request_)),
      method_(common::ascii_upper(request_.method)) {}

Exchange::~Exchange() { curl_slist_free_all(header_list_); }

void Exchange::configure(CURL* easy, const SessionOptions& options) {
  set(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  set(easy, CURLOPT_NOSIGNAL, 1L);
  set(easy, CURLOPT_ERRORBUFFER, error_buffer_);
  set(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  set(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  set(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
  set(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
  set(easy, CURLOPT_USERAGENT, options.user_agent.c_str());
  // Either way curl decodes what the server sends; on_body counts the decoded bytes.
  set(easy, CURLOPT_ACCEPT_ENCODING, request_.identity_encoding ? "identity" : "");
  // Redirects are followed hop by hop here, so that each hop's headers are chosen for it.
  set(easy, CURLOPT_FOLLOWLOCATION, 0L);
  // Without a proxy of ours curl takes the environment's; ours serves every host.
  if (const auto& proxy = request_.proxy ? request_.proxy : options.proxy) {
    set(easy, CURLOPT_PROXY, proxy->c_str());
    set(easy, CURLOPT_NOPROXY, "");
  }
  set(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (request_.timeout) {
    // A limit of zero would mean "no limit" to curl.
    set(easy, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(request_.timeout->count())));
  }
  set(easy, CURLOPT_CONNECTTIMEOUT_MS,
      std::max<long>(1, static_cast<long>(request_.connect_timeout.count())));
  if (request_.low_speed_time) {
    set(easy, CURLOPT_LOW_SPEED_LIMIT, request_.low_speed_limit);
    set(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request_.low_speed_time->count()));
  }
  // Cookie engine on, no file: cookies set along redirects reach the next hop even when the
  // session does not keep them.
  set(easy, CURLOPT_COOKIEFILE, "");
  set(easy, CURLOPT_HEADERFUNCTION, &Exchange::on_header);
  set(easy, CURLOPT_HEADERDATA, this);
  set(easy, CURLOPT_WRITEFUNCTION, &Exchange::on_body);
  set(easy, CURLOPT_WRITEDATA, this);
  configure_hop(easy);
}

void Exchange::configure_hop(CURL* easy) {
  check_url(url_);
  set(easy, CURLOPT_URL, url_.c_str());

  curl_slist_free_all(std::exchange(header_list_, nullptr));
  const auto append = [&](const std::string& line) {
    curl_slist* grown = curl_slist_append(header_list_, line.c_str());
    if (!grown) throw Error("Cannot set up the HTTP request headers");
    header_list_ = grown;
  };
  bool has_expect = false;
  for (const auto& [name, value] : request_.headers) {
    has_expect = has_expect || same_name(name, "Expect");
    // "Name;" is curl's way of sending a header with an empty value.
    append(value.empty() ? name + ";" : name + ": " + value);
  }
  // No "Expect: 100-continue" round trip before larger bodies.
  if (!has_expect) append("Expect:");
  set(easy, CURLOPT_HTTPHEADER, header_list_);

  const std::string& body = request_.shared_body ? *request_.shared_body : request_.body;
  if (method_ == "HEAD") {
    set(easy, CURLOPT_NOBODY, 1L);
  } else if (method_ == "GET" && body.empty()) {
    set(easy, CURLOPT_HTTPGET, 1L);
    set(easy, CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
  } else if (method_ == "POST" || !body.empty()) {
    set(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    set(easy, CURLOPT_POSTFIELDS, body.data());
    set(easy, CURLOPT_CUSTOMREQUEST, method_ == "POST" ? nullptr : method_.c_str());
  } else {
    set(easy, CURLOPT_CUSTOMREQUEST, method_.c_str());
  }
}

size_t Exchange::on_header(char* data, size_t size, size_t count, void* self_pointer) {
  auto* self = static_cast<Exchange*>(self_pointer);
  const size_t length = size * count;
  try {
    std::string_view line = common::trim(std::string_view(data, length));
    if (line.starts_with("HTTP/")) {
      // A new status line: an interim or redirect response came before; keep only the last.
      self->response_.headers.clear();
      self->response_.reason.clear();
      self->response_.status = 0;
      auto code_start = line.find(' ');
      if (code_start != std::string_view::npos) {
        const auto code = line.substr(code_start + 1, 3);
        self->response_.status = static_cast<long>(parse_number(code).value_or(0));
      }
      auto reason_start =
          code_start == std::string_view::npos ? code_start : line.find(' ', code_start + 1);
      if (reason_start != std::string_view::npos)
        self->response_.reason = common::trim(line.substr(reason_start));
    } else if (line.empty()) {
      self->end_of_headers();
    } else if (auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
      self->response_.headers.emplace_back(std::string(common::trim(line.substr(0, colon))),
                                           std::string(common::trim(line.substr(colon + 1))));
    }
    return length;
  } catch (...) {
    self->callback_error_ = std::current_exception();
    return 0;
  }
}

bool Exchange::is_followed_redirect() const {
  return request_.follow_redirects && is_redirect_status(response_.status) &&
         response_.header("Location").has_value();
}

void Exchange::end_of_headers() {
  const long status = response_.status;
  if (status < 200 || is_followed_redirect() || answered_) return;
  answered_ = true;
  if (on_answer_) on_answer_();
  if (method_ == "HEAD") return;
  const auto length = response_.header("Content-Length");
  const auto announced = length ? parse_number(*length) : std::nullopt;
  if (!announced) return;
  // Decoded bodies are at least as long as encoded ones: past the cap either way.
  if (*announced > request_.max_body_bytes) {
    throw Error("The answer from " + describe_url(url_) + " is larger than the limit of " +
                    std::to_string(request_.max_body_bytes) + " bytes",
                Error::Kind::kTooLarge);
  }
  // An encoded body's length says little of its decoded size.
  if (!request_.on_body_chunk && !response_.header("Content-Encoding")) body_.expect(*announced);
}

size_t Exchange::on_body(char* data, size_t size, size_t count, void* self_pointer) {
  auto* self = static_cast<Exchange*>(self_pointer);
  const size_t length = size * count;
  try {
    const std::uint64_t received = self->body_.size() + self->streamed_ + length;
    if (received > self->request_.max_body_bytes) {
      throw Error("The answer from " + describe_url(self->url_) + " is larger than the limit of " +
                      std::to_string(self->request_.max_body_bytes) + " bytes",
                  Error::Kind::kTooLarge);
    }
    if (self->is_followed_redirect()) {
      self->streamed_ += length;  // the body of a redirect is read, not kept
    } else if (self->request_.on_body_chunk) {
      self->streamed_ += length;
      self->request_.on_body_chunk(std::string_view(data, length));
    } else {
      self->body_.append(std::string_view(data, length));
    }
    return length;
  } catch (...) {
    self->callback_error_ = std::current_exception();
    return CURL_WRITEFUNC_ERROR;
  }
}

Error Exchange::overdue() const {
  return Error(
      "No answer from " + describe_url(url_) + " within " +
          std::to_string(request_.answer_timeout.value_or(std::chrono::milliseconds(0)).count()) +
          " milliseconds",
      Error::Kind::kTimeout);
}

bool Exchange::redirect(CURL* easy, CURLcode code) {
  if (callback_error_ || code != CURLE_OK || !is_followed_redirect()) return false;
  if (++redirects_ > kMaxRedirects) {
    throw Error("Too many redirects from " + describe_url(request_.url) + " (more than " +
                std::to_string(kMaxRedirects) + ")");
  }
  const std::string target = *response_.header("Location");
  const auto current = boost::urls::parse_uri(url_);
  const auto location = boost::urls::parse_uri_reference(target);
  boost::urls::url next;
  if (!current || !location || !boost::urls::resolve(*current, *location, next)) {
    throw Error("Unusable redirect from " + describe_url(url_));
  }
  next.remove_fragment();
  if (origin(next) != origin(*current)) {
    std::erase_if(request_.headers,
                  [](const auto& header) { return is_credential_header(header.first); });
  }
  // As browsers do: 303 turns any method into GET, 301 and 302 turn POST into GET.
  const long status = response_.status;
  if ((status == 303 && method_ != "HEAD") ||
      ((status == 301 || status == 302) && method_ == "POST")) {
    method_ = "GET";
    request_.body.clear();
    request_.shared_body.reset();
    std::erase_if(request_.headers, [](const auto& header) {
      return same_name(header.first, "Content-Type") || same_name(header.first, "Content-Length");
    });
  }
  url_ = std::string(next.buffer());
  response_ = Response{};
  body_.clear();
  streamed_ = 0;
  configure_hop(easy);
  return true;
}

Response Exchange::finish(CURL* easy, CURLcode code) {
  if (callback_error_) std::rethrow_exception(callback_error_);
  if (code != CURLE_OK) {
    std::string_view detail = common::trim(error_buffer_);
    throw Error(detail.empty() ? std::string(curl_easy_strerror(code)) : std::string(detail),
                error_kind(code));
  }
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &response_.status);
  if (char* effective = nullptr;
      curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective) {
    response_.effective_url = effective;
  }
  if (response_.reason.empty()) {
    // HTTP/2 has no reason phrase: give the standard one.
    namespace beast_http = boost::beast::http;
    auto status = beast_http::int_to_status(static_cast<unsigned>(response_.status));
    if (status != beast_http::status::unknown)
      response_.reason = beast_http::obsolete_reason(status);
  }
  response_.body = body_.take();
  return std::move(response_);
}

}  // namespace detail
}  // namespace clients::http
