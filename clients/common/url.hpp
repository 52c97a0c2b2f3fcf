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

// `path` percent-encoded segment by segment: every byte but the unreserved characters
// (A-Z a-z 0-9 - . _ ~) and the slashes between segments, in upper-case hex, as a URL path and
// SigV4's canonical URI want it.
std::string encode_path(std::string_view path);

}  // namespace clients::common
