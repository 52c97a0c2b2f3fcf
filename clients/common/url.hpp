// Where requests go: a service's base URL, and the percent-encoded parts of its addresses.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace clients::common {

// The base URL of a service: `given` unless it is none or empty, else the first of `variables`
// set to a non-empty value, else `fallback`; without trailing slashes, so paths are appended
// as "/...".
std::string resolve_base_url(const std::optional<std::string>& given,
                             std::initializer_list<const char*> variables,
                             std::string_view fallback);

// The scheme that starts `text` ("s3" of "s3://bucket/key"): the text before its first ":" when
// that is a URI scheme (a letter, then letters, digits, "+", "-", "."); none otherwise. The rest of
// `text` need not be a valid URL.
std::optional<std::string_view> url_scheme(std::string_view text);

// A URL as the lenient generic split finds its parts (scheme ":" ["//" network location] path
// ["?" query] ["#" fragment]): any text splits, so a text that is no URL simply has no scheme or
// no network location, and characters a URL may not hold (spaces, non-ASCII) are kept as given.
struct UrlParts {
  std::string scheme;            // as written; empty when there is none
  std::string network_location;  // host, with port and user part if present
  std::string path;
};
UrlParts split_url(std::string_view url);

// `url` with every byte that a URL may not hold as it is (blanks, control characters,
// non-ASCII, ...) percent-encoded in UTF-8; reserved characters and "%" escapes stay as written.
std::string encode_url(std::string_view url);

// `path` percent-encoded segment by segment: every byte but the unreserved characters
// (A-Z a-z 0-9 - . _ ~) and the slashes between segments, in upper-case hex, as a URL path and
// SigV4's canonical URI want it.
std::string encode_path(std::string_view path);

}  // namespace clients::common
