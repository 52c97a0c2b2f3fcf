// Texts safe to show: the one place that strips secrets from log lines and error texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qorl_core/value.hpp"

namespace qorl_core::redaction {

// For an absolute URL: the URL with its password (or its user part when there is no password)
// and the values of query parameters that carry
// signatures, tokens, credentials or keys replaced by "REDACTED". Any other text unchanged.
std::string redact_url(std::string_view text);

// `value` with redact_url applied to every text in it, inside lists and maps too: for logging
// service answers that echo a caller's URL, or inputs. Texts longer than `limit` characters and
// bytes longer than `limit` bytes are cut to `limit` first (base64 sources run to megabytes).
qorl_core::Value redact_urls(const qorl_core::Value& value, std::size_t limit = std::string::npos);

// `text` with every occurrence of each of `secrets` replaced by "***".
std::string redact_secrets(std::string text, const std::vector<std::string>& secrets);

// Makes `secret` (an API key, a token) one that redact_text masks from now on, process-wide.
void register_secret(const std::string& secret);

// A free text (a log line, an error message): the URLs in it redacted, the registered secrets
// masked, and runs of base64 longer than 1024 characters shortened to their length.
std::string redact_text(std::string_view text);

}  // namespace qorl_core::redaction
