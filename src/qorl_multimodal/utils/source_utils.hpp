// Lowest-level ways of getting a media file's bytes: a local file, an HTTP(S) download, and
// base64 text of bytes. The fetchers never raise for a bad source: they log why at debug level
// and give none, so a caller can try the next kind of source.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "qorl_core/value.hpp"

namespace clients::http {
class Session;
}

namespace qorl_multimodal::utils::source_utils {

// What a fetcher got: the bytes, or none and, when the source was of the fetcher's kind (an
// existing path, an http(s) URL, an s3:// location, a Drive link), why. A caller that runs out
// of kinds of source raises its error with that reason nested in it.
struct Fetched {
  std::optional<qorl_core::Bytes> bytes{};
  std::exception_ptr failure{};
};

// True for an absolute http or https URL with a host.
bool is_web_url(std::string_view source);

// The body of a 200 answer to a GET of `file_source`, or none. `timeout` seconds bound the wait
// for the answer (connecting, retries and their back-off included) and then each stall of the
// body; a body that keeps moving is not cut short. The operator's call deadline, when set,
// stands in for `timeout`. Runs on `session` (left open) or on a private session closed before
// returning. Cancellation propagates.
boost::asio::awaitable<std::optional<qorl_core::Bytes>> get_file_from_url(
    std::string file_source, int timeout = 30, clients::http::Session* session = nullptr);

// get_file_from_url, keeping the failure.
boost::asio::awaitable<Fetched> fetch_url(std::string file_source, int timeout = 30,
                                          clients::http::Session* session = nullptr);

// The whole content of the file at `source`, or none.
std::optional<qorl_core::Bytes> get_file_from_file_path(const std::string& source);
// get_file_from_file_path, keeping the failure when something exists at `source`.
Fetched read_file_path(const std::string& source);

// Standard base64 with padding, no line breaks.
std::string encode_file_to_base64(const qorl_core::Bytes& file_binary);

}  // namespace qorl_multimodal::utils::source_utils
