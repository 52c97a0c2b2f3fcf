#include "qorl_multimodal/utils/language_names.hpp"

#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>

#include <cstring>
#include <unordered_map>

namespace qorl_multimodal::utils::language_names {

namespace {

std::string lower(std::string_view text) {
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicode.toLower(icu::Locale::getEnglish());
  std::string out;
  unicode.toUTF8String(out);
  return out;
}

using Table = std::unordered_map<std::string, std::string>;

Table build_table() {
  Table table;
  for (const char* const* code = uloc_getISOLanguages(); *code; ++code) {
    // Retired codes (their canonical form is another code) would shadow current ones.
    if (std::strcmp(icu::Locale::createCanonical(*code).getLanguage(), *code) != 0) continue;
    icu::UnicodeString display;
    icu::Locale(*code).getDisplayLanguage(icu::Locale::getEnglish(), display);
    std::string name;
    display.toUTF8String(name);
    if (name == *code) continue;  // ICU has no English name for it
    name = lower(name);
    // Two-letter (ISO 639-1) codes win over three-letter ones of the same name.
    const auto [it, inserted] = table.emplace(name, *code);
    if (!inserted && it->second.size() > std::strlen(*code)) it->second = *code;
  }
  // Names the transcription service reports that ICU spells differently ("Māori", "Bangla",
  // "Norwegian Nynorsk", "Burmese", "Filipino").
  for (const auto& [name, code] :
       {std::pair{"maori", "mi"}, std::pair{"bengali", "bn"}, std::pair{"nynorsk", "nn"},
        std::pair{"myanmar", "my"}, std::pair{"tagalog", "tl"}}) {
    table.emplace(name, code);
  }
  return table;
}

}  // namespace

std::optional<std::string> iso_639_code(std::string_view name) {
  static const Table table = build_table();
  const auto it = table.find(lower(name));
  if (it == table.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> language_of_tag(std::string_view tag) {
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = icu::Locale::forLanguageTag(
      icu::StringPiece(tag.data(), static_cast<int32_t>(tag.size())), status);
  if (U_FAILURE(status)) return std::nullopt;
  locale.canonicalize(status);
  if (U_FAILURE(status) || *locale.getLanguage() == '\0') return std::nullopt;
  return std::string(locale.getLanguage());
}

}  // namespace qorl_multimodal::utils::language_names
