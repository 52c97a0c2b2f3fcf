#include "clients/http/exchange.hpp"

#include <boost/beast/http/status.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

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

}  // namespace

std::optional<std::string> Response::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (same_name(key, name)) return value;
  }
  return std::nullopt;
}

namespace detail {
namespace {

// Room reserved for a body its Content-Length announces, at most: the header is only the
// server's word.
constexpr std::uint64_t kMaxBodyReserve = std::uint64_t{64} << 20;

constexpr long kMaxRedirects = 10;

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

Exchange::Exchange(Request request) : request_(std::move(request)), url_(with_query(request_)) {}

Exchange::~Exchange() { curl_slist_free_all(header_list_); }

void Exchange::configure(CURL* easy, const SessionOptions& options) {
  check_url(url_);
  set(easy, CURLOPT_URL, url_.c_str());
  set(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  set(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(easy, CURLOPT_NOSIGNAL, 1L);
  set(easy, CURLOPT_ERRORBUFFER, error_buffer_);
  set(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  set(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  set(easy, CURLOPT_PROXY_SSL_VERIFYPEER, 1L);
  set(easy, CURLOPT_PROXY_SSL_VERIFYHOST, 2L);
  set(easy, CURLOPT_USERAGENT, options.user_agent.c_str());
  set(easy, CURLOPT_ACCEPT_ENCODING, "");  // every encoding curl can decode
  set(easy, CURLOPT_FOLLOWLOCATION, request_.follow_redirects ? 1L : 0L);
  set(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  // An empty proxy also keeps curl from picking one up from the environment.
  const auto& proxy = request_.proxy ? request_.proxy : options.proxy;
  set(easy, CURLOPT_PROXY, proxy ? proxy->c_str() : "");
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

  bool has_expect = false;
  for (const auto& [name, value] : request_.headers) {
    has_expect = has_expect || common::ascii_upper(name) == "EXPECT";
    // "Name;" is curl's way of sending a header with an empty value.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    curl_slist* grown = curl_slist_append(header_list_, line.c_str());
    if (!grown) throw Error("Cannot set up the HTTP request headers");
    header_list_ = grown;
  }
  if (!has_expect) {
    // No "Expect: 100-continue" round trip before larger bodies.
    curl_slist* grown = curl_slist_append(header_list_, "Expect:");
    if (!grown) throw Error("Cannot set up the HTTP request headers");
    header_list_ = grown;
  }
  set(easy, CURLOPT_HTTPHEADER, header_list_);

  const std::string method = common::ascii_upper(request_.method);
  const std::string& body = request_.shared_body ? *request_.shared_body : request_.body;
  if (method == "HEAD") {
    set(easy, CURLOPT_NOBODY, 1L);
  } else if (method == "GET" && body.empty()) {
    set(easy, CURLOPT_HTTPGET, 1L);
  } else if (method == "POST" || !body.empty()) {
    set(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    set(easy, CURLOPT_POSTFIELDS, body.data());
    if (method != "POST") set(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else {
    set(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  set(easy, CURLOPT_HEADERFUNCTION, &Exchange::on_header);
  set(easy, CURLOPT_HEADERDATA, this);
  set(easy, CURLOPT_WRITEFUNCTION, &Exchange::on_body);
  set(easy, CURLOPT_WRITEDATA, this);
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
      auto code_start = line.find(' ');
      auto reason_start =
          code_start == std::string_view::npos ? code_start : line.find(' ', code_start + 1);
      if (reason_start != std::string_view::npos)
        self->response_.reason = common::trim(line.substr(reason_start));
    } else if (auto colon = line.find(':'); colon != std::string_view::npos && colon > 0) {
      const auto& [name, value] =
          self->response_.headers.emplace_back(std::string(common::trim(line.substr(0, colon))),
                                               std::string(common::trim(line.substr(colon + 1))));
      if (same_name(name, "Content-Length") && !self->request_.on_body_chunk)
        self->reserve_body(value);
    }
    return length;
  } catch (...) {
    self->callback_error_ = std::current_exception();
    return 0;
  }
}

size_t Exchange::on_body(char* data, size_t size, size_t count, void* self_pointer) {
  auto* self = static_cast<Exchange*>(self_pointer);
  const size_t length = size * count;
  try {
    self->body_bytes_ += length;
    if (self->body_bytes_ > self->request_.max_body_bytes) {
      throw Error("The answer from " + describe_url(self->url_) + " is larger than the limit of " +
                      std::to_string(self->request_.max_body_bytes) + " bytes",
                  Error::Kind::kTooLarge);
    }
    if (self->request_.on_body_chunk) {
      self->request_.on_body_chunk(std::string_view(data, length));
    } else {
      self->response_.body.append(data, length);
    }
    return length;
  } catch (...) {
    self->callback_error_ = std::current_exception();
    return CURL_WRITEFUNC_ERROR;
  }
}

void Exchange::reserve_body(std::string_view content_length) {
  std::uint64_t announced = 0;
  const auto [end, error] = std::from_chars(
      content_length.data(), content_length.data() + content_length.size(), announced);
  if (error != std::errc() || end != content_length.data() + content_length.size()) return;
  const std::uint64_t room = std::min({announced, request_.max_body_bytes, kMaxBodyReserve});
  response_.body.reserve(static_cast<std::size_t>(room));
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
  return std::move(response_);
}

}  // namespace detail
}  // namespace clients::http
