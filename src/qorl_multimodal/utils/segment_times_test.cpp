#include "qorl_multimodal/utils/segment_times.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "testing/audio.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::segment_times {
namespace {

AudioTranscript segment(std::string text, double start, double end) {
  AudioTranscript record;
  record.text = std::move(text);
  record.start_time = start;
  record.end_time = end;
  return record;
}

TEST(SegmentTimesTest, TimesAreClampedToTheMediaAndSegmentsKeptInOrder) {
  std::vector<AudioTranscript> segments = {segment("b", 2, 3), segment("a", -1, 1),
                                           segment("c", 2, 12), segment("d", NAN, 1),
                                           segment("e", 4, 5)};
  const TimeFixes fixes = fit_to_duration(segments, 10.0);
  EXPECT_EQ(fixes.clamped, 3u);
  EXPECT_EQ(fixes.reordered, 2u);
  std::string order;
  for (const auto& s : segments) order += s.text;
  EXPECT_EQ(order, "adbce");  // equal starts keep their order
  EXPECT_EQ(segments[0].start_time, 0.0);
  EXPECT_EQ(segments[1].start_time, 0.0);
  EXPECT_EQ(segments[3].end_time, 10.0);
  EXPECT_EQ(fixes.describe(10.0), "3 segments clamped to the media's 10 s, 2 reordered");
  EXPECT_EQ((TimeFixes{0, 1}).describe(2.5), "1 segment reordered");
  EXPECT_FALSE(fit_to_duration(segments, 10.0).any());
}

TEST(SegmentTimesTest, MediaDurationComesFromTheHeader) {
  qorl_testing::TempDir dir;
  const auto wav = dir.write(
      "talk.wav", qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 8000, 1.5));
  EXPECT_NEAR(*media_duration(wav.string()), 1.5, 1e-3);
  EXPECT_FALSE(media_duration(dir.write("notes.txt", "not media").string()));
  EXPECT_FALSE(media_duration((dir.path() / "missing.wav").string()));
}

}  // namespace
}  // namespace qorl_multimodal::utils::segment_times
