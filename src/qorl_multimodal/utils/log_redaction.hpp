// Texts safe to log: URLs lose their secrets (signatures, tokens, keys, passwords).
#pragma once

#include <string>
#include <string_view>

namespace qorl_multimodal::utils::log_redaction {

// For an absolute URL: the URL with its password and the values of query parameters that carry
// signatures, tokens, credentials or keys replaced by "REDACTED". Any other text unchanged.
std::string redact_url(std::string_view text);

}  // namespace qorl_multimodal::utils::log_redaction
