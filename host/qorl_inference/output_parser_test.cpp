#include "qorl_inference/output_parser.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"

namespace qorl_inference {
namespace {

TEST(JSONOutputParserTest, FindsTheJsonInAnAnswer) {
  JSONOutputParser parser;
  const qorl_core::Value expected = qorl_core::Map{{"captions", qorl_core::List{"a", "b"}}};
  EXPECT_EQ(parser.parse(R"({"captions": ["a", "b"]})"), expected);
  EXPECT_EQ(parser.parse("  \n{\"captions\": [\"a\", \"b\"]}\n"), expected);
  EXPECT_EQ(parser.parse("Here you go:\n```json\n{\"captions\": [\"a\", \"b\"]}\n```\nEnjoy."),
            expected);
  EXPECT_EQ(parser.parse("```\n{\"captions\": [\"a\", \"b\"]}\n```"), expected);
  // A first fenced block that is not JSON is skipped.
  EXPECT_EQ(parser.parse("```text\nnot json\n```\n```json\n{\"captions\": [\"a\", \"b\"]}\n```"),
            expected);
  EXPECT_EQ(parser.parse("Sure! {\"captions\": [\"a\", \"b\"]} Hope it helps."), expected);
  EXPECT_EQ(parser.parse("[1, 2]"), qorl_core::Value(qorl_core::List{1, 2}));
}

TEST(JSONOutputParserTest, UnparsableAnswersAreValueErrors) {
  JSONOutputParser parser;
  for (const char* bad : {"", "Unsupported", "```json\n{\"a\": }\n```", "{\"a\": 1"}) {
    EXPECT_THROW(parser.parse(bad), qorl_core::ValueError) << bad;
  }
  try {
    parser.parse(std::string(300, 'x'));
  } catch (const qorl_core::ValueError& error) {
    EXPECT_LT(std::string(error.what()).size(), 300u);  // long answers are shortened
  }
}

}  // namespace
}  // namespace qorl_inference
