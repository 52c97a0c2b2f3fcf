// Standard base64 (RFC 4648 alphabet with padding).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qorl_core {

std::string base64_encode(std::string_view data);
// Appends the encoding of `data` to `out`, written in place (for large payloads inside a
// larger text).
void base64_append(std::string& out, std::string_view data);

// Strict decoding: only alphabet characters, correct padding, a length that is a multiple of
// four; anything else gives nullopt.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace qorl_core
