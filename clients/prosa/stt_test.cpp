#include "clients/prosa/stt.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace clients::prosa {
namespace {

using nlohmann::json;

std::string refusal_of(const json& record) {
  try {
    read_segments(record);
  } catch (const SttAnswerError& error) {
    EXPECT_EQ(error.service(), "Prosa");
    return error.what();
  }
  ADD_FAILURE() << "no SttAnswerError for " << record.dump();
  return {};
}

TEST(ProsaAnswersTest, JobIdsAreTextOrIntegers) {
  EXPECT_EQ(read_job_id(json::parse(R"({"job_id": "abc", "status": "created"})")), "abc");
  EXPECT_EQ(read_job_id(json::parse(R"({"job_id": 42})")), "42");
  for (const char* answer : {R"({"detail": "Invalid API key"})", R"({"job_id": null})",
                             R"({"job_id": 1.5})", R"({"job_id": ["abc"]})", R"(["abc"])"}) {
    EXPECT_EQ(read_job_id(json::parse(answer)), "") << answer;
  }
}

TEST(ProsaAnswersTest, StatusesOtherThanCompleteOrFailedArePending) {
  const auto status = [](const char* record) { return read_job_status(json::parse(record)); };
  EXPECT_EQ(status(R"({"status": "complete"})"), SttJobStatus::kComplete);
  EXPECT_EQ(status(R"({"status": "failed"})"), SttJobStatus::kFailed);
  EXPECT_EQ(status(R"({"status": "in_progress"})"), SttJobStatus::kPending);
  EXPECT_EQ(status(R"({"status": null})"), SttJobStatus::kPending);
  EXPECT_EQ(status(R"({"status": 3})"), SttJobStatus::kPending);
  EXPECT_EQ(status(R"({"job_id": "abc"})"), std::nullopt);
  EXPECT_EQ(status(R"(["complete"])"), std::nullopt);
}

TEST(ProsaAnswersTest, SegmentsTakeDefaultsForMissingOrNullMembers) {
  const auto segments = read_segments(json::parse(R"({"status": "complete", "result": {"data": [
      {"channel": 1, "transcript": "halo", "final": true, "time_start": 0.5, "time_end": 2},
      {"channel": null, "transcript": null}, {}]}})"));
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[0].channel, 1.0);
  EXPECT_EQ(segments[0].transcript, "halo");
  EXPECT_EQ(segments[0].time_start, 0.5);
  EXPECT_EQ(segments[0].time_end, 2.0);
  for (const SttSegment& empty : {segments[1], segments[2]}) {
    EXPECT_EQ(empty.channel, -1.0);
    EXPECT_EQ(empty.transcript, "");
    EXPECT_EQ(empty.time_start, 0.0);
    EXPECT_EQ(empty.time_end, 0.0);
  }
  EXPECT_TRUE(read_segments(json::parse(R"({"status": "complete"})")).empty());
  EXPECT_TRUE(read_segments(json::parse(R"({"result": null})")).empty());
  EXPECT_TRUE(read_segments(json::parse(R"({"result": {"data": null}})")).empty());
}

TEST(ProsaAnswersTest, MembersOfAnotherTypeAreRefusedNamingThem) {
  EXPECT_EQ(refusal_of(json::parse(R"({"result": [1]})")),
            "Transcription result is not an object: [1]");
  EXPECT_EQ(refusal_of(json::parse(R"({"result": {"data": {"a": 1}}})")),
            R"(Transcription result data is not a list: {"a":1})");
  EXPECT_EQ(refusal_of(json::parse(R"({"result": {"data": [5]}})")),
            "Transcription segment is not an object: 5");
  EXPECT_EQ(refusal_of(json::parse(R"({"result": {"data": [{"time_start": "soon"}]}})")),
            R"(Transcription segment field 'time_start' is not a number: "soon")");
  EXPECT_EQ(refusal_of(json::parse(R"({"result": {"data": [{"transcript": 7}]}})")),
            "Transcription segment field 'transcript' is not a text: 7");
}

}  // namespace
}  // namespace clients::prosa
