// Language names to ISO 639 codes, from ICU's English language names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qorl_multimodal::utils::language_names {

// The ISO 639 code of the language with this English name, compared case-insensitively: two
// letters where ISO 639-1 has a code ("english" -> "en"), else three ("cantonese" -> "yue").
// Also knows the names the OpenAI transcription service reports where ICU's differ ("maori",
// "bengali", "nynorsk", "myanmar", "tagalog").
std::optional<std::string> iso_639_code(std::string_view name);

}  // namespace qorl_multimodal::utils::language_names
