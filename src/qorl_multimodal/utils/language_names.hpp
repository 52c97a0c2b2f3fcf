// Language names and BCP-47 language tags to ISO 639 codes, through ICU.
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

// The language of a well-formed BCP-47 tag, in any letter case, after ICU's canonicalization of
// deprecated and overlong codes: "id-ID" and "id-id" -> "id", "iw-IL" -> "he", "eng" -> "en".
// None for a malformed tag and for a tag without a language ("und", "x-private", "").
std::optional<std::string> language_of_tag(std::string_view tag);

}  // namespace qorl_multimodal::utils::language_names
