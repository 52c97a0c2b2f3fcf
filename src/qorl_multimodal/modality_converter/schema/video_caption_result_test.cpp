#include "qorl_multimodal/modality_converter/schema/video_caption_result.hpp"

#include <gtest/gtest.h>

namespace qorl_multimodal::modality_converter::schema::video_caption_result {
namespace {

using qorl_core::List;
using qorl_core::Map;
using qorl_core::ValidationError;
using qorl_core::Value;

Map keyframe(const char* caption) { return {{"caption", caption}, {"time_offset", 1}}; }
Map transcript(const char* text) {
  return {{"text", text}, {"start_time", 0}, {"end_time", 1}, {"lang_id", "id"}};
}

TEST(SegmentTest, TimesOnlyGiveEmptyListsAndRealTimes) {
  const auto segment = Segment::from_options({{"start_time", 0}, {"end_time", 10}});
  EXPECT_TRUE(segment.transcripts.empty());
  EXPECT_TRUE(segment.keyframes.empty());
  EXPECT_TRUE(segment.segment_caption.empty());
  EXPECT_TRUE(segment.to_map().at("start_time").is_double());
}

TEST(SegmentTest, CaptionFallsBackToKeyframesBeforeTranscripts) {
  const Map times{{"start_time", 0}, {"end_time", 10}};
  auto with = [&](std::initializer_list<std::pair<std::string, Value>> extra) {
    Map options = times;
    for (const auto& [k, v] : extra) options.set(k, v);
    return Segment::from_options(options).segment_caption;
  };
  const List keyframes{keyframe("A"), keyframe("B")};
  EXPECT_EQ(with({{"keyframes", keyframes}, {"transcripts", List{transcript("T")}}}),
            (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(with({{"transcripts", List{transcript("T"), transcript("T")}}}),
            (std::vector<std::string>{"T", "T"}));
  EXPECT_EQ(with({{"segment_caption", List{"X"}}, {"keyframes", keyframes}}),
            (std::vector<std::string>{"X"}));
}

TEST(SegmentTest, NestedMapsBecomeRecordsAndBadOnesNameTheirPath) {
  const auto segment = Segment::from_options({{"start_time", "1.5"},
                                              {"end_time", 2},
                                              {"keyframes", List{keyframe("A")}},
                                              {"mood", "calm"}});
  ASSERT_EQ(segment.keyframes.size(), 1u);
  EXPECT_EQ(segment.keyframes[0].media_id, std::nullopt);
  EXPECT_DOUBLE_EQ(segment.start_time, 1.5);
  EXPECT_FALSE(segment.to_map().contains("mood"));

  Map no_lang = transcript("T");
  no_lang.erase("lang_id");
  try {
    Segment::from_options(
        {{"start_time", "soon"}, {"end_time", 1}, {"transcripts", List{no_lang}}});
    FAIL();
  } catch (const ValidationError& error) {
    EXPECT_TRUE(error.names("start_time"));
    EXPECT_TRUE(error.names("transcripts.0.lang_id"));
  }
}

TEST(VideoCaptionMetadataTest, SummaryIsRequiredTextAndMapKeepsFieldOrder) {
  EXPECT_THROW(
      VideoCaptionMetadata::from_options({{"video_summary", Value()}, {"segments", List{}}}),
      ValidationError);
  EXPECT_THROW(VideoCaptionMetadata::from_options({{"video_summary", 3}}), ValidationError);
  EXPECT_TRUE(VideoCaptionMetadata::from_options({{"video_summary", "S"}}).segments.empty());

  const auto metadata = VideoCaptionMetadata::from_options(
      {{"video_summary", "S"},
       {"segments",
        List{Map{{"start_time", 0}, {"end_time", 1}, {"keyframes", List{keyframe("A")}}}}}});
  const Map map = metadata.to_map();
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"video_summary", "segments"}));
  const Map& segment = map.at("segments").as_list()[0].as_map();
  EXPECT_EQ(segment.keys(), (std::vector<std::string>{"start_time", "end_time", "transcripts",
                                                      "segment_caption", "keyframes"}));
  const Map& frame = segment.at("keyframes").as_list()[0].as_map();
  EXPECT_EQ(frame.keys(), (std::vector<std::string>{"time_offset", "media_id", "caption"}));
  EXPECT_TRUE(frame.at("media_id").is_none());
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::schema::video_caption_result
