#include "qorl_core/value.hpp"

#include <gtest/gtest.h>

#include "clients/common/json_parse.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"

namespace qorl_core {
namespace {

TEST(ReprTest, TextQuotingFollowsTheContent) {
  EXPECT_EQ(repr(Value("a.mp3")), "'a.mp3'");
  EXPECT_EQ(repr(Value("it's")), "\"it's\"");
  EXPECT_EQ(repr(Value("both ' and \"")), "'both \\' and \"'");
  EXPECT_EQ(repr(Value("line\nbreak\\tab\t")), "'line\\nbreak\\\\tab\\t'");
  EXPECT_EQ(repr(Value("bell\x07")), "'bell\\x07'");
  EXPECT_EQ(repr(Value("café")), "'café'");
}

// Characters that would not show, or would show as something else, are written as escapes.
TEST(ReprTest, NonPrintableNonAsciiCharactersAreEscaped) {
  EXPECT_EQ(repr(Value("a\u00a0b.wav")), "'a\\xa0b.wav'");
  EXPECT_EQ(repr(Value("\u200b")), "'\\u200b'");
  EXPECT_EQ(repr(Value("\u0085 \u2028")), "'\\x85 \\u2028'");
  EXPECT_EQ(repr(Value("\U000f0000")), "'\\U000f0000'");
  EXPECT_EQ(repr(Value("日本 \U0001f600")), "'日本 \U0001f600'");
  EXPECT_EQ(repr(Value(std::string("bad\xff"))), "'bad\\xff'");
}

TEST(ReprTest, OtherKinds) {
  EXPECT_EQ(repr(Value()), "None");
  EXPECT_EQ(repr(Value(true)), "True");
  EXPECT_EQ(repr(Value(42)), "42");
  EXPECT_EQ(repr(Value(5.0)), "5.0");
  EXPECT_EQ(repr(Value(0.1)), "0.1");
  EXPECT_EQ(repr(Value(Bytes("a\xff'"))), "b\"a\\xff'\"");
  EXPECT_EQ(repr(Value(List{1, "x", Value()})), "[1, 'x', None]");
  EXPECT_EQ(repr(Value(Map{{"k", 1}, {"a", "b"}})), "{'k': 1, 'a': 'b'}");
}

TEST(MapTest, KeepsInsertionOrderAndReplacesInPlace) {
  Map map{{"b", 1}, {"a", 2}};
  map.set("c", 3);
  map.set("b", 4);
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(map.at("b"), Value(4));
  EXPECT_THROW(map.at("missing"), KeyError);
  EXPECT_TRUE(map.erase("a"));
  EXPECT_EQ(map.get("a", "fallback"), Value("fallback"));
}

TEST(ValueTest, KindsStayApart) {
  EXPECT_NE(Value("abc"), Value(Bytes("abc")));
  EXPECT_EQ(Value(5), Value(5.0));
  EXPECT_EQ(Value("x").type_name(), "str");
  EXPECT_EQ(Value(Bytes()).type_name(), "bytes");
  EXPECT_EQ(Value(Map{}).type_name(), "dict");
  EXPECT_EQ(Value().type_name(), "NoneType");
  EXPECT_THROW(Value(3).as_string(), TypeError);
  EXPECT_FALSE(Value("").truthy());
  EXPECT_FALSE(Value(0).truthy());
  EXPECT_TRUE(Value(List{Value()}).truthy());
}

TEST(JsonTest, RoundTripKeepsKeyOrderAndKinds) {
  const Value value = from_json(R"({"z": 1, "a": [true, null, 2.5, "t"], "m": {"k": -3}})");
  EXPECT_EQ(value.as_map().keys(), (std::vector<std::string>{"z", "a", "m"}));
  EXPECT_TRUE(value.as_map().at("z").is_int());
  EXPECT_EQ(to_json(value), R"({"z":1,"a":[true,null,2.5,"t"],"m":{"k":-3}})");
  EXPECT_EQ(to_json(Value(Bytes("hi"))), "\"aGk=\"");
  EXPECT_THROW(from_json("{not json"), ValueError);
}

TEST(HostileJson, DeepNestingIsRefusedBeforeAnyRecursiveWalk) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  try {
    from_json(deep, "Prosa STT");
    FAIL() << "a value nested 100000 deep was built";
  } catch (const clients::common::JsonTooDeep& error) {
    EXPECT_STREQ(error.what(), "Prosa STT sent JSON nested deeper than 512 levels; refused");
  }
  // A document built by other means meets the same bound in the conversion.
  nlohmann::ordered_json built = nlohmann::ordered_json::array();
  for (int i = 0; i < clients::common::MAX_JSON_DEPTH; ++i) {
    built = nlohmann::ordered_json::array({std::move(built)});
  }
  EXPECT_THROW(from_ordered_json(built), ValueError);
  EXPECT_TRUE(from_ordered_json(built[0]).is_list());
}

}  // namespace
}  // namespace qorl_core
