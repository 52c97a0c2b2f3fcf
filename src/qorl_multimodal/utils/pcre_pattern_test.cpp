#include "qorl_multimodal/utils/pcre_pattern.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace qorl_multimodal::utils::pcre_pattern {
namespace {

TEST(PcrePatternTest, SearchesForAGroupOfTheFirstMatch) {
  const Pattern ascii(R"(id=(\w+)(;)?)");
  EXPECT_EQ(ascii.search("x id=ab\u00e9 id=cd"), "ab");
  EXPECT_EQ(ascii.search("id=ab;", 0), "id=ab;");
  EXPECT_EQ(ascii.search("id=ab", 2), std::nullopt);  // took no part
  EXPECT_EQ(ascii.search("none"), std::nullopt);
  // "." stops at line feeds.
  EXPECT_EQ(Pattern("a.(b)").search("a\nb a\rb"), "b");
  EXPECT_THROW(Pattern("(unclosed"), std::invalid_argument);
}

TEST(PcrePatternTest, UnicodeWordCharactersAndInvalidInput) {
  const Pattern word(R"(([\w-]{3}))", {.unicode = true});
  EXPECT_EQ(word.search("\u00c4\u0661_"), "\u00c4\u0661_");
  // Invalid UTF-8 is skipped over, not an error.
  EXPECT_EQ(word.search("\xff\xfe abc"), "abc");
  EXPECT_EQ(Pattern("YOUTU", {.unicode = true, .caseless = true}).search("youtu", 0), "youtu");
}

}  // namespace
}  // namespace qorl_multimodal::utils::pcre_pattern
