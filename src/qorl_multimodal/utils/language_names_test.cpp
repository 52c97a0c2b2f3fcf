#include "qorl_multimodal/utils/language_names.hpp"

#include <gtest/gtest.h>

#include <map>

namespace qorl_multimodal::utils::language_names {
namespace {

TEST(LanguageNamesTest, KnowsEveryLanguageTheTranscriptionServiceReports) {
  // The service's language names with their ISO 639 codes (Javanese is "jv"; the service's
  // own list uses the retired "jw").
  const std::map<std::string, std::string> service = {
      {"english", "en"},     {"chinese", "zh"},    {"german", "de"},
      {"spanish", "es"},     {"russian", "ru"},    {"korean", "ko"},
      {"french", "fr"},      {"japanese", "ja"},   {"portuguese", "pt"},
      {"turkish", "tr"},     {"polish", "pl"},     {"catalan", "ca"},
      {"dutch", "nl"},       {"arabic", "ar"},     {"swedish", "sv"},
      {"italian", "it"},     {"indonesian", "id"}, {"hindi", "hi"},
      {"finnish", "fi"},     {"vietnamese", "vi"}, {"hebrew", "he"},
      {"ukrainian", "uk"},   {"greek", "el"},      {"malay", "ms"},
      {"czech", "cs"},       {"romanian", "ro"},   {"danish", "da"},
      {"hungarian", "hu"},   {"tamil", "ta"},      {"norwegian", "no"},
      {"thai", "th"},        {"urdu", "ur"},       {"croatian", "hr"},
      {"bulgarian", "bg"},   {"lithuanian", "lt"}, {"latin", "la"},
      {"maori", "mi"},       {"malayalam", "ml"},  {"welsh", "cy"},
      {"slovak", "sk"},      {"telugu", "te"},     {"persian", "fa"},
      {"latvian", "lv"},     {"bengali", "bn"},    {"serbian", "sr"},
      {"azerbaijani", "az"}, {"slovenian", "sl"},  {"kannada", "kn"},
      {"estonian", "et"},    {"macedonian", "mk"}, {"breton", "br"},
      {"basque", "eu"},      {"icelandic", "is"},  {"armenian", "hy"},
      {"nepali", "ne"},      {"mongolian", "mn"},  {"bosnian", "bs"},
      {"kazakh", "kk"},      {"albanian", "sq"},   {"swahili", "sw"},
      {"galician", "gl"},    {"marathi", "mr"},    {"punjabi", "pa"},
      {"sinhala", "si"},     {"khmer", "km"},      {"shona", "sn"},
      {"yoruba", "yo"},      {"somali", "so"},     {"afrikaans", "af"},
      {"occitan", "oc"},     {"georgian", "ka"},   {"belarusian", "be"},
      {"tajik", "tg"},       {"sindhi", "sd"},     {"gujarati", "gu"},
      {"amharic", "am"},     {"yiddish", "yi"},    {"lao", "lo"},
      {"uzbek", "uz"},       {"faroese", "fo"},    {"haitian creole", "ht"},
      {"pashto", "ps"},      {"turkmen", "tk"},    {"nynorsk", "nn"},
      {"maltese", "mt"},     {"sanskrit", "sa"},   {"luxembourgish", "lb"},
      {"myanmar", "my"},     {"tibetan", "bo"},    {"tagalog", "tl"},
      {"malagasy", "mg"},    {"assamese", "as"},   {"tatar", "tt"},
      {"hawaiian", "haw"},   {"lingala", "ln"},    {"hausa", "ha"},
      {"bashkir", "ba"},     {"javanese", "jv"},   {"sundanese", "su"},
      {"cantonese", "yue"}};
  ASSERT_EQ(service.size(), 100u);
  for (const auto& [name, code] : service) EXPECT_EQ(iso_639_code(name), code) << name;
}

TEST(LanguageNamesTest, IgnoresCaseAndKnowsNoMadeUpNames) {
  EXPECT_EQ(iso_639_code("English"), "en");
  EXPECT_EQ(iso_639_code("MĀORI"), "mi");
  EXPECT_EQ(iso_639_code("klingonese"), std::nullopt);
  EXPECT_EQ(iso_639_code(""), std::nullopt);
  EXPECT_EQ(iso_639_code("en"), std::nullopt);  // a code is not a name
}

TEST(LanguageNamesTest, TagsGiveTheirCanonicalLanguage) {
  EXPECT_EQ(language_of_tag("id-ID"), "id");
  EXPECT_EQ(language_of_tag("id-id"), "id");  // as the recognition service reports tags
  EXPECT_EQ(language_of_tag("EN-us"), "en");
  EXPECT_EQ(language_of_tag("iw-IL"), "he");
  EXPECT_EQ(language_of_tag("eng"), "en");
  EXPECT_EQ(language_of_tag("yue-Hant-HK"), "yue");
  for (const char* bad : {"", "und", "x-private", "en_US", "en-", "en-US ", "12-!!", "en-US-!!"}) {
    EXPECT_EQ(language_of_tag(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace qorl_multimodal::utils::language_names
