#include "clients/common/json_parse.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace clients::common {
namespace {

std::string nested_arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonParseTest, NestingPastTheLimitIsRefusedNamingTheService) {
  const std::string deep = nested_arrays(100000);
  try {
    parse_json(deep, "Gemini");
    FAIL() << "a document nested 100000 deep was accepted";
  } catch (const JsonTooDeep& error) {
    EXPECT_STREQ(error.what(), "Gemini sent JSON nested deeper than 512 levels; refused");
  }
  // The no-throw form still refuses: discarding would hide what happened.
  EXPECT_THROW(parse_json_or_discarded(deep, "Gemini"), JsonTooDeep);
  EXPECT_THROW(parse_json<nlohmann::ordered_json>(nested_arrays(MAX_JSON_DEPTH + 1), "Prosa"),
               JsonTooDeep);
  const std::string objects =
      R"({"a":)" + std::string(MAX_JSON_DEPTH, '[') + "1" + std::string(MAX_JSON_DEPTH, ']') + "}";
  EXPECT_THROW(parse_json(objects, "OpenAI"), JsonTooDeep);
}

TEST(JsonParseTest, ParsesUpToTheLimitAndReportsMalformedTextByVariant) {
  const auto deepest = parse_json<nlohmann::ordered_json>(nested_arrays(MAX_JSON_DEPTH), "x");
  EXPECT_TRUE(deepest.is_array());
  const auto answer = parse_json(R"({"b": 1, "a": [true, "t"]})", "x");
  EXPECT_EQ(answer["a"][1], "t");
  EXPECT_THROW(parse_json("{oops", "x"), nlohmann::json::parse_error);
  EXPECT_TRUE(parse_json_or_discarded("{oops", "x").is_discarded());
  EXPECT_TRUE(parse_json_or_discarded<nlohmann::ordered_json>("", "x").is_discarded());
}

}  // namespace
}  // namespace clients::common
