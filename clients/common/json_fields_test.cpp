#include "clients/common/json_fields.hpp"

#include <gtest/gtest.h>

namespace clients::common {
namespace {

using nlohmann::json;

struct Track {
  std::string code;
};

void from_json(const json& value, Track& track) {
  track.code = field_or<std::string>(value, "code");
}

TEST(JsonFieldsTest, MissingOrMistypedMembersReadAsTheDefault) {
  const json answer = json::parse(R"({"text": "hi", "start": 1, "end": "2", "flag": true,
                                      "tracks": [{"code": "en"}, 5, {"code": 7}]})");
  EXPECT_EQ(field_or<std::string>(answer, "text"), "hi");
  EXPECT_EQ(field_or<std::string>(answer, "start", "none"), "none");
  EXPECT_EQ(field_or<double>(answer, "start"), 1.0);
  EXPECT_EQ(field_or<double>(answer, "end"), 0.0);
  EXPECT_EQ(field_or<int>(answer, "flag", -1), -1);
  EXPECT_EQ(optional_field<bool>(answer, "flag"), true);
  EXPECT_EQ(optional_field<std::string>(answer, "missing"), std::nullopt);
  // Elements of a list are read through their own from_json, leniently too.
  const auto tracks = field_or<std::vector<Track>>(answer, "tracks");
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks[0].code, "en");
  EXPECT_EQ(tracks[1].code, "");
  EXPECT_EQ(tracks[2].code, "");
  EXPECT_TRUE(field_or<std::vector<Track>>(answer, "text").empty());
}

TEST(JsonFieldsTest, PathsStopAtAnythingButAnObject) {
  const json answer = json::parse(R"({"error": {"message": "quota", "code": 429}, "list": [1]})");
  EXPECT_EQ(optional_field<std::string>(answer, {"error", "message"}), "quota");
  EXPECT_EQ(field_or<int>(answer, {"error", "code"}), 429);
  EXPECT_EQ(optional_field<std::string>(answer, {"list", "message"}), std::nullopt);
  EXPECT_EQ(optional_field<std::string>(json("text"), {"error", "message"}), std::nullopt);
  EXPECT_EQ(field_or<std::string>(json::parse("[", nullptr, false), "x", "fallback"), "fallback");
}

TEST(JsonFieldsTest, StrictReadsTakeNullAsMissingAndRefuseOtherTypes) {
  const json answer = json::parse(R"({"start": 1.5, "end": null, "text": "hi", "n": "2",
                                      "tracks": [{"code": "en"}]})");
  EXPECT_EQ(nullable_field<double>(answer, "start"), 1.5);
  EXPECT_EQ(nullable_field<double>(answer, "end"), std::nullopt);
  EXPECT_EQ(nullable_field_or<double>(answer, "missing", -1.0), -1.0);
  EXPECT_EQ(nullable_field<double>(json::array(), "start"), std::nullopt);
  EXPECT_EQ(nullable_field_or<std::vector<Track>>(answer, "tracks").at(0).code, "en");
  try {
    nullable_field<double>(answer, "n");
    FAIL() << "a text was read as a number";
  } catch (const FieldTypeError& error) {
    EXPECT_EQ(error.key(), "n");
    EXPECT_EQ(error.value(), json("2"));
    EXPECT_STREQ(error.what(), R"(field 'n' is not a number: "2")");
  }
  EXPECT_THROW(nullable_field<std::string>(answer, "start"), FieldTypeError);
  EXPECT_THROW(nullable_field<std::vector<Track>>(answer, "text"), FieldTypeError);
  EXPECT_THROW(nullable_field<Track>(answer, "start"), FieldTypeError);
}

}  // namespace
}  // namespace clients::common
