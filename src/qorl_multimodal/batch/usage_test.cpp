#include "qorl_multimodal/batch/usage.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::batch::usage {
namespace {

using namespace std::chrono_literals;

TEST(BatchUsageTest, AddsFieldByField) {
  Usage a{.input_tokens = 10,
          .output_tokens = 2,
          .total_tokens = 12,
          .audio_seconds = 1.5,
          .requests = 1};
  const Usage b{.input_tokens = 5,
                .output_tokens = 1,
                .total_tokens = 6,
                .audio_seconds = 0.25,
                .requests = 2};
  EXPECT_EQ(a + b, (Usage{15, 3, 18, 1.75, 3}));
  a += b;
  a += b;
  EXPECT_EQ(a, (Usage{20, 4, 24, 2.0, 5}));
}

TEST(BatchUsageTest, JsonRoundTripAndRefusals) {
  const Usage usage{123, 45, 168, 61.25, 2};
  EXPECT_EQ(usage.to_json(),
            R"({"input_tokens":123,"output_tokens":45,"total_tokens":168,"audio_seconds":61.25,)"
            R"("requests":2})");
  EXPECT_EQ(Usage::from_json(usage.to_json()), usage);
  EXPECT_EQ(Usage::from_json(R"({"requests": 1})"), (Usage{0, 0, 0, 0, 1}));
  EXPECT_EQ(Usage::from_json(R"({"audio_seconds": 3})").audio_seconds, 3.0);
  for (const char* bad : {"", "[]", "{", R"({"input_tokens": -1})", R"({"requests": 1.5})",
                          R"({"output_tokens": "7"})", R"({"audio_seconds": -2})"}) {
    EXPECT_THROW(Usage::from_json(bad), qorl_core::ValueError) << bad;
  }
}

TEST(BatchUsageTest, FormatsCountsWithThousandsSeparators) {
  EXPECT_EQ(format_count(0), "0");
  EXPECT_EQ(format_count(999), "999");
  EXPECT_EQ(format_count(1000), "1,000");
  EXPECT_EQ(format_count(1200), "1,200");
  EXPECT_EQ(format_count(123456), "123,456");
  EXPECT_EQ(format_count(1234567), "1,234,567");
  EXPECT_EQ(format_count(-1234), "-1,234");
}

TEST(BatchUsageTest, FormatsTokensToTwoSignificantFigures) {
  EXPECT_EQ(format_tokens(0), "0");
  EXPECT_EQ(format_tokens(950), "950");
  EXPECT_EQ(format_tokens(999), "999");
  EXPECT_EQ(format_tokens(1000), "1k");
  EXPECT_EQ(format_tokens(1500), "1.5k");
  EXPECT_EQ(format_tokens(9940), "9.9k");
  EXPECT_EQ(format_tokens(9960), "10k");
  EXPECT_EQ(format_tokens(80000), "80k");
  EXPECT_EQ(format_tokens(80499), "80k");
  EXPECT_EQ(format_tokens(123456), "123k");
  EXPECT_EQ(format_tokens(999499), "999k");
  EXPECT_EQ(format_tokens(999700), "1M");
  EXPECT_EQ(format_tokens(1200000), "1.2M");
  EXPECT_EQ(format_tokens(45000000), "45M");
  EXPECT_EQ(format_tokens(3400000000), "3.4B");
}

TEST(BatchUsageTest, FormatsAudioAndElapsedTime) {
  EXPECT_EQ(format_audio(41.5 * 3600), "41.5 audio hours");
  EXPECT_EQ(format_audio(3600), "1.0 audio hours");
  EXPECT_EQ(format_audio(738), "12.3 audio minutes");
  EXPECT_EQ(format_audio(40.4), "40 audio seconds");
  EXPECT_EQ(format_elapsed(0s), "0s");
  EXPECT_EQ(format_elapsed(44.6s), "45s");
  EXPECT_EQ(format_elapsed(60s), "1m00s");
  EXPECT_EQ(format_elapsed(12min + 3s), "12m03s");
  EXPECT_EQ(format_elapsed(1h + 2min + 3s), "1h02m03s");
  EXPECT_EQ(format_elapsed(26h), "26h00m00s");
}

TEST(BatchUsageTest, SummaryLineLeavesOutWhatIsZero) {
  RunSummary summary{.done = 1200,
                     .from_store = 300,
                     .failed = 3,
                     .usage = {.input_tokens = 1200000,
                               .output_tokens = 80000,
                               .total_tokens = 1280000,
                               .audio_seconds = 41.5 * 3600,
                               .requests = 900},
                     .elapsed = 12min + 3s};
  EXPECT_EQ(format_summary(summary),
            "1,200 done (300 from the store), 3 failed; 1.2M tokens in, 80k out; "
            "41.5 audio hours; 12m03s");
  EXPECT_EQ(format_summary({.done = 2, .elapsed = 5s}), "2 done, 0 failed; 5s");
  EXPECT_EQ(format_summary({.done = 2, .usage = {.total_tokens = 1500}, .elapsed = 5s}),
            "2 done, 0 failed; 1.5k tokens; 5s");
  EXPECT_EQ(
      format_summary({.done = 2, .failed = 1, .skipped = 4, .elapsed = 5s, .stopped_early = true}),
      "2 done, 1 failed, 4 skipped; 5s; stopped early");
}

}  // namespace
}  // namespace qorl_multimodal::batch::usage
