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

}  // namespace
}  // namespace clients::common
