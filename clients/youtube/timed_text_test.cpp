#include "clients/youtube/timed_text.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace clients::youtube::internal {
namespace {

TEST(TimedTextTest, UnescapesCharacterReferencesOnce) {
  EXPECT_EQ(unescape_html("It&#39;s &#x27;q&#X27; &quot;a&quot; &amp;amp; &hellip; caf&eacute;"),
            "It's 'q' \"a\" &amp; \u2026 caf\u00e9");
  // Not references, or unknown ones: left as they are.
  EXPECT_EQ(unescape_html("R&D & &bogus; &#; &amp"), "R&D & &bogus; &#; &amp");
  // Code points that are no characters become the replacement character.
  EXPECT_EQ(unescape_html("&#0;&#xD800;&#x110000;"), "\uFFFD\uFFFD\uFFFD");
}

TEST(TimedTextTest, RemovesMarkupTagsOnly) {
  EXPECT_EQ(strip_tags(R"(<font color="#E5E5E5">so</font> <b>bold</b><br/>!)"), "so bold!");
  EXPECT_EQ(strip_tags("1 < 2 and 3 > 2, a<b, x <y"), "1 < 2 and 3 > 2, a<b, x <y");
}

TEST(TimedTextTest, ReadsSnippetsInDocumentOrder) {
  const auto snippets = parse_timed_text(
      R"(<?xml version="1.0" encoding="utf-8" ?><transcript>)"
      R"(<text start="0" dur="1.25">a &amp;amp; b</text><text start="1.25">no duration</text>)"
      R"(<text start="2" dur="1"/><other>x</other><text start="3" dur="0.5">)"
      "\u00c0 la &lt;i&gt;carte&lt;/i&gt;</text></transcript>");
  ASSERT_EQ(snippets.size(), 3u);
  EXPECT_EQ(snippets[0].text, "a & b");
  EXPECT_DOUBLE_EQ(snippets[0].duration, 1.25);
  EXPECT_EQ(snippets[1].text, "no duration");
  EXPECT_DOUBLE_EQ(snippets[1].duration, 0.0);
  EXPECT_EQ(snippets[2].text, "\u00c0 la carte");
  EXPECT_DOUBLE_EQ(snippets[2].start, 3.0);
}

TEST(TimedTextTest, RefusesWhatIsNoTimedTextDocument) {
  for (const char* bad : {"", "not xml", "<timedtext format=\"3\"><body/></timedtext>",
                          R"(<transcript><text start="x" dur="1">a</text></transcript>)",
                          R"(<transcript><text dur="1">a</text></transcript>)",
                          // Entity expansion is refused before it starts.
                          R"(<!DOCTYPE t [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;">]>)"
                          R"(<transcript><text start="0">&b;</text></transcript>)"}) {
    EXPECT_THROW(parse_timed_text(bad), std::invalid_argument) << bad;
  }
}

TEST(TimedTextTest, DeeplyNestedDocumentsAreRefused) {
  std::string deep = R"(<transcript><text start="0">)";
  for (int i = 0; i < 100000; ++i) deep += "<b>";
  for (int i = 0; i < 100000; ++i) deep += "</b>";
  deep += "</text></transcript>";
  EXPECT_THROW(parse_timed_text(deep), std::invalid_argument);
}

}  // namespace
}  // namespace clients::youtube::internal
