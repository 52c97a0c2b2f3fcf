// Texts safe to log: URLs lose their secrets (signatures, tokens, keys, passwords).
#pragma once

#include <string>
#include <string_view>

#include "qorl_core/value.hpp"

namespace qorl_multimodal::utils::log_redaction {

// For an absolute URL: the URL with its password and the values of query parameters that carry
// signatures, tokens, credentials or keys replaced by "REDACTED". Any other text unchanged.
std::string redact_url(std::string_view text);

// `value` with redact_url applied to every text in it, inside lists and maps too: for logging
// service answers that echo a caller's URL, or inputs. Texts and bytes longer than `limit` are
// cut to `limit` first (base64 sources run to megabytes).
qorl_core::Value redact_urls(const qorl_core::Value& value, std::size_t limit = std::string::npos);

}  // namespace qorl_multimodal::utils::log_redaction
