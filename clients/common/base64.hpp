// Standard base64 (RFC 4648 alphabet with padding), and the URL-safe form of JSON Web Tokens.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace clients::common {

std::string base64_encode(std::string_view data);
// Appends the encoding of `data` to `out`, written in place (for large payloads inside a
// larger text).
void base64_append(std::string& out, std::string_view data);

// The URL-safe alphabet ("-", "_") without padding, as JSON Web Tokens write it.
std::string base64url_encode(std::string_view data);

// Strict decoding: only alphabet characters, correct padding, a length that is a multiple of
// four; anything else gives nullopt.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace clients::common
