#include "qorl_core/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace qorl_core {
namespace {

constexpr std::string_view kNoBreakSpace = "\u00A0";
constexpr std::string_view kIdeographicSpace = "\u3000";
constexpr std::string_view kLineSeparator = "\u2028";

TEST(StripUnicodeTest, RemovesUnicodeAndAsciiWhiteSpaceAtBothEnds) {
  const std::string text = std::string(kIdeographicSpace) + " \t\x1f" + "a\u00A0b" +
                           std::string(kLineSeparator) + "\n" + std::string(kNoBreakSpace);
  EXPECT_EQ(strip_unicode(text), "a\u00A0b");
  EXPECT_EQ(strip_unicode("photo.png"), "photo.png");
  EXPECT_EQ(strip_unicode(""), "");
}

TEST(StripUnicodeTest, BlankTextsAreMadeOfWhiteSpaceOnly) {
  for (const auto blank :
       {kNoBreakSpace, kIdeographicSpace, kLineSeparator, std::string_view(" \r\n\x1c")}) {
    EXPECT_TRUE(is_blank(blank)) << blank;
    EXPECT_TRUE(is_blank(std::string(blank) + std::string(blank))) << blank;
  }
  EXPECT_TRUE(is_blank(""));
  EXPECT_FALSE(is_blank("\u00A0x\u3000"));
  // Zero-width space is not white space; a stray byte is content, not blank.
  EXPECT_FALSE(is_blank("\u200B"));
  EXPECT_FALSE(is_blank(" \xC2 "));
}

TEST(PrefixCharactersTest, CountsCodePointsAndKeepsSequencesWhole) {
  const std::string text = "ab\u00E9\u3000\U0001F600z";
  EXPECT_EQ(prefix_characters(text, 0), "");
  EXPECT_EQ(prefix_characters(text, 3), "ab\u00E9");
  EXPECT_EQ(prefix_characters(text, 5), "ab\u00E9\u3000\U0001F600");
  EXPECT_EQ(prefix_characters(text, 100), text);
  EXPECT_EQ(prefix_characters(std::string(600, 'x') + "\u00E9", 512).size(), 512u);
  // An invalid byte is one character, so a cut still moves forward.
  EXPECT_EQ(prefix_characters("\xFF\xFFy", 2), "\xFF\xFF");
}

}  // namespace
}  // namespace qorl_core
