#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "testing/audio.hpp"
#include "testing/cancellation.hpp"
#include "testing/fake_prosa.hpp"
#include "testing/log_capture.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::prosa_audio_to_text {
namespace {

using qorl_core::Map;
using qorl_testing::AudioContainer;
using qorl_testing::FakeProsa;
using qorl_testing::sine_audio;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

const std::string kFirstJob = "00000000000000000000000000000001";

class Prosa : public ProsaAudioToText {
 public:
  using ProsaAudioToText::ProsaAudioToText;
  using ProsaAudioToText::_result_to_audio_transcript;
};

// (text, start, end) of each record.
std::vector<std::tuple<std::string, double, double>> timed(
    const std::vector<AudioTranscript>& records) {
  std::vector<std::tuple<std::string, double, double>> out;
  for (const auto& r : records) out.emplace_back(r.text, r.start_time, r.end_time);
  return out;
}

std::string error_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const qorl_core::ValueError& error) {
    return error.what();
  }
  ADD_FAILURE() << "no ValueError";
  return {};
}

class ProsaTest : public ::testing::Test {
 protected:
  Prosa backend(ProsaAudioToText::Params params = {}) {
    params.api_key = params.api_key.empty() ? FakeProsa::kApiKey : params.api_key;
    params.url = server_.url();
    return Prosa(std::move(params));
  }
  std::vector<AudioTranscript> convert(Prosa& prosa, const std::string& source) {
    return qorl_core::run_sync(prosa.convert(source));
  }
  // The one submission's JSON body.
  Map only_submission() const {
    const auto submissions = server_.submissions();
    EXPECT_EQ(submissions.size(), 1u);
    if (submissions.empty()) return {};
    return qorl_core::from_json(submissions.back().body).as_map();
  }
  FakeProsa server_;
  qorl_testing::TempDir dir_;
};

TEST_F(ProsaTest, ShortFileIsSentInlineAndOneCopyOfEqualChannelsKept) {
  // Both channels carry the same speech: only channel 0 survives.
  server_.set_result_data(R"([
    {"channel": 1, "transcript": "halo semua", "final": true, "time_start": 0.0, "time_end": 1.5},
    {"channel": 0, "transcript": "apa kabar", "final": true, "time_start": 1.5, "time_end": 3.25},
    {"channel": 0, "transcript": "halo semua", "final": true, "time_start": 0.0, "time_end": 1.5},
    {"channel": 1, "transcript": "apa kabar", "final": true, "time_start": 1.5, "time_end": 3.25}])");
  const std::string wav = sine_audio(AudioContainer::WAV, 1, 8000, 55.0);
  const std::string path = dir_.write("speech.wav", wav).string();
  auto prosa = backend();
  qorl_testing::LogCapture capture;
  const auto transcripts = qorl_core::run_sync(prosa.run({{"audio_source", path}}));

  EXPECT_THAT(timed(transcripts), ElementsAre(std::make_tuple("halo semua", 0.0, 1.5),
                                              std::make_tuple("apa kabar", 1.5, 3.25)));
  EXPECT_FALSE(transcripts[0].lang_id.has_value());

  const auto submission = server_.submissions().at(0);
  EXPECT_EQ(submission.method, "POST");
  EXPECT_EQ(submission.path, "/v2/speech/stt");
  EXPECT_EQ(submission.header("x-api-key"), FakeProsa::kApiKey);
  EXPECT_EQ(submission.header("Content-Type"), "application/json");
  const Map body = only_submission();
  EXPECT_THAT(body.keys(), ElementsAre("config", "request"));
  EXPECT_EQ(
      body.at("config"),
      qorl_core::Value(Map{{"model", "stt-general"}, {"wait", false}, {"auto_punctuation", true}}));
  EXPECT_THAT(body.at("config").as_map().keys(), ElementsAre("model", "wait", "auto_punctuation"));
  EXPECT_EQ(body.at("request"), qorl_core::Value(Map{{"data", qorl_core::base64_encode(wav)}}));

  const auto queries = server_.queries();
  ASSERT_EQ(queries.size(), 1u);  // complete at once: no wait
  EXPECT_EQ(queries[0].request.method, "GET");
  EXPECT_EQ(queries[0].request.path, "/v2/speech/stt/" + kFirstJob);
  EXPECT_EQ(queries[0].request.header("x-api-key"), FakeProsa::kApiKey);

  const auto lines = capture.messages("Prosa");
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[1], "Converting audio source: " + path);
  EXPECT_EQ(lines[2], "Audio source is a valid audio file path: " + path);
  // The audio itself stays out of the log: a line of megabytes helps no one.
  EXPECT_EQ(lines[3], "Submitting transcription request: <" +
                          std::to_string(qorl_core::base64_encode(wav).size()) +
                          " base64 characters>");
  EXPECT_EQ(lines[4].rfind("Received transcription request response: {'job_id': '" + kFirstJob +
                               "', 'status': 'created', ",
                           0),
            0u)
      << lines[4];
  EXPECT_EQ(lines[5], "Polling transcription result for job ID: " + kFirstJob);
  EXPECT_EQ(lines[6].rfind("Received transcription result: {'job_id': '" + kFirstJob +
                               "', 'status': 'complete', ",
                           0),
            0u)
      << lines[6];
  EXPECT_EQ(lines[7], "[Finished 'Prosa'] Converted audio to text: 2 audio transcript(s)");
  EXPECT_EQ(ProsaAudioToText(ProsaAudioToText::Params{}).logger().name(), "ProsaAudioToText");
}

TEST_F(ProsaTest, AudioLongerThanFiftyFiveSecondsIsRefusedBeforeAnyRequest) {
  const std::string wav = sine_audio(AudioContainer::WAV, 1, 8000, 55.1);
  auto prosa = backend();
  const std::string message =
      "Audio duration exceeds 55 seconds (max duration for base64 encoding)";
  EXPECT_EQ(error_of([&] { convert(prosa, dir_.write("long.wav", wav).string()); }), message);
  EXPECT_EQ(error_of([&] { convert(prosa, qorl_core::base64_encode(wav)); }), message);
  EXPECT_TRUE(server_.submissions().empty());
}

TEST_F(ProsaTest, Base64IsSentAsGivenAndHttpsUrlsAsUri) {
  const std::string audio =
      qorl_core::base64_encode(sine_audio(AudioContainer::FLAC, 1, 16000, 1.0));
  auto prosa = backend({.model = "stt-meeting"});
  convert(prosa, audio);
  Map body = only_submission();
  EXPECT_EQ(body.at("request"), qorl_core::Value(Map{{"data", audio}}));
  EXPECT_EQ(body.at("config").as_map().at("model"), qorl_core::Value("stt-meeting"));

  const std::string signed_url = "HTTPS://storage.example.com/a.wav?X-Amz-Signature=c2VjcmV0";
  qorl_testing::LogCapture capture;
  convert(prosa, signed_url);
  body = qorl_core::from_json(server_.submissions().at(1).body).as_map();
  EXPECT_EQ(body.at("request"), qorl_core::Value(Map{{"uri", signed_url}}));
  // The service echoes the URI in its answers; the logged answers are redacted.
  const auto lines = capture.messages("Prosa");
  ASSERT_EQ(lines.size(), 6u);
  for (const auto& line : lines) EXPECT_THAT(line, Not(HasSubstr("c2VjcmV0")));
  EXPECT_THAT(lines[3],
              HasSubstr("'uri': 'HTTPS://storage.example.com/a.wav?X-Amz-Signature=REDACTED'"));
}

TEST_F(ProsaTest, HttpsUrlsWithBlanksOrNonAsciiLettersAreSentPercentEncoded) {
  auto prosa = backend();
  convert(prosa, "https://storage.example.com/rapat pagi/\xC3\xBC.wav?t=a b");
  EXPECT_EQ(only_submission().at("request"),
            qorl_core::Value(
                Map{{"uri", "https://storage.example.com/rapat%20pagi/%C3%BC.wav?t=a%20b"}}));
}

TEST_F(ProsaTest, OtherSourcesAreUnsupported) {
  auto prosa = backend();
  for (const std::string& source : std::vector<std::string>{
           "http://storage.example.com/a.wav", "https://", "https:a.wav", "ftp://host/a.wav",
           "not audio at all", (dir_.path() / "missing.wav").string()}) {
    EXPECT_EQ(error_of([&] { convert(prosa, source); }), "Unsupported audio source") << source;
  }
  EXPECT_TRUE(server_.submissions().empty());
}

TEST_F(ProsaTest, SubmissionWithoutJobIdIsAnError) {
  const std::string source = "https://storage.example.com/a.wav";
  auto refused = backend({.api_key = "wrong-key"});
  EXPECT_EQ(error_of([&] { convert(refused, source); }),
            "Failed to get job ID from transcription request. API response: {'detail': 'Invalid "
            "API key'}");
  server_.queue_submission_reply({200, R"({"job_id": "", "status": "created"})"});
  auto prosa = backend();
  EXPECT_THAT(error_of([&] { convert(prosa, source); }),
              HasSubstr("API response: {'job_id': '', 'status': 'created'}"));
  // An answer that is not JSON propagates as it is.
  server_.queue_submission_reply({502, "<html>Bad Gateway</html>"});
  EXPECT_THROW(convert(prosa, source), qorl_core::ValueError);
  EXPECT_TRUE(server_.queries().empty());
}

TEST_F(ProsaTest, UnfinishedJobsAreQueriedAgainAfterTheInterval) {
  server_.set_statuses({"running", "complete"});
  server_.set_result_data(
      R"([{"channel": 0, "transcript": "selesai", "time_start": 0, "time_end": 1}])");
  auto prosa = backend({.polling_interval = 1});
  EXPECT_THAT(timed(convert(prosa, "https://storage.example.com/a.wav")),
              ElementsAre(std::make_tuple("selesai", 0.0, 1.0)));
  const auto queries = server_.queries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_GE(queries[1].received - queries[0].received, 1s);

  // An HTTP error on a query only means "not yet".
  server_.set_statuses({"complete"});
  server_.queue_query_reply({500, R"({"detail": "Internal Server Error"})"});
  auto eager = backend({.polling_interval = 0});
  EXPECT_EQ(convert(eager, "https://storage.example.com/b.wav").size(), 1u);
  EXPECT_EQ(server_.queries().size(), 4u);
}

TEST_F(ProsaTest, FailedJobsAndEndlessJobsEndTheWait) {
  server_.set_statuses({"queued", "failed"});
  auto prosa = backend({.polling_interval = 0});
  EXPECT_EQ(error_of([&] { convert(prosa, "https://storage.example.com/a.wav"); }),
            "Transcription job " + kFirstJob + " ended with status 'failed'");
  EXPECT_EQ(server_.queries().size(), 2u);

  server_.set_statuses({"in_progress"});
  auto bounded = backend({.polling_interval = 0, .max_polls = 3});
  EXPECT_EQ(error_of([&] { convert(bounded, "https://storage.example.com/a.wav"); }),
            "Transcription job 00000000000000000000000000000002 is not complete after 3 polls");
  EXPECT_EQ(server_.queries().size(), 5u);

  EXPECT_EQ(error_of([&] { backend({.max_polls = 0}); }), "max_polls must be at least 1");
  EXPECT_FALSE(backend({.max_polls = std::nullopt}).max_polls.has_value());
}

TEST_F(ProsaTest, TheWaitYieldsTheLoopAndEndsOnCancellation) {
  server_.set_statuses({"in_progress"});
  auto prosa = backend({.polling_interval = 3600});
  // The check runs only while the conversion waits on its timer.
  EXPECT_TRUE(qorl_testing::ends_cancelled(prosa.convert("https://storage.example.com/a.wav"),
                                           [&] { return !server_.queries().empty(); }));
  EXPECT_EQ(server_.queries().size(), 1u);
}

TEST_F(ProsaTest, PollingIntervalSetterKeepsTheMinimum) {
  auto prosa = backend({.polling_interval = 1});
  EXPECT_EQ(prosa.polling_interval(), 1);
  const std::string message = "Polling interval must be an int with minimum value of 5";
  EXPECT_EQ(error_of([&] { prosa.polling_interval(4); }), message);
  EXPECT_EQ(error_of([&] { prosa.polling_interval(5.5); }), message);
  EXPECT_EQ(error_of([&] { prosa.polling_interval("60"); }), message);
  EXPECT_EQ(prosa.polling_interval(), 1);
  prosa.polling_interval(5);
  EXPECT_EQ(prosa.polling_interval(), 5);
  prosa.polling_interval(60);
  EXPECT_EQ(prosa.polling_interval(), 60);
}

TEST_F(ProsaTest, SegmentsAreSortedGroupedAndDeduplicatedByChannel) {
  const auto records = [](const std::string& data) {
    const Map result =
        qorl_core::from_json(R"({"status": "complete", "result": {"data": )" + data + "}}")
            .as_map();
    std::vector<std::string> texts;
    for (const auto& r : Prosa(ProsaAudioToText::Params{})._result_to_audio_transcript(result))
      texts.push_back(r.text);
    return texts;
  };
  // Channel order first, then start time; a missing channel counts as -1.
  EXPECT_THAT(records(R"([{"channel": 1, "transcript": "b", "time_start": 0},
                          {"channel": 0, "transcript": "a2", "time_start": 2},
                          {"channel": 0, "transcript": "a1", "time_start": 1},
                          {"transcript": "none", "time_start": 9}])"),
              ElementsAre("none", "a1", "a2", "b"));
  // Equal keys keep the service's order.
  EXPECT_THAT(records(R"([{"channel": 0, "transcript": "first", "time_start": 1},
                          {"channel": 0, "transcript": "second", "time_start": 1}])"),
              ElementsAre("first", "second"));
  // A channel equal to any kept channel goes; an empty transcript still adds its space.
  EXPECT_THAT(records(R"([{"channel": 0, "transcript": "a"}, {"channel": 1, "transcript": "b"},
                          {"channel": 2, "transcript": "a"},
                          {"channel": 3, "transcript": "a"}, {"channel": 3, "transcript": ""}])"),
              ElementsAre("a", "b", "a", ""));
  EXPECT_TRUE(records("[]").empty());
  EXPECT_TRUE(Prosa(ProsaAudioToText::Params{})
                  ._result_to_audio_transcript(Map{{"status", "complete"}})
                  .empty());
  const Map defaults = qorl_core::from_json(R"({"result": {"data": [{}]}})").as_map();
  EXPECT_THAT(timed(Prosa(ProsaAudioToText::Params{})._result_to_audio_transcript(defaults)),
              ElementsAre(std::make_tuple("", 0.0, 0.0)));
  EXPECT_THROW(records(R"([{"channel": 0, "time_start": "soon"}])"), qorl_core::ValueError);
}

using HostileProsa = ProsaTest;

TEST_F(HostileProsa, DeeplyNestedJobRecordsAreRefused) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  server_.queue_query_reply({200, R"({"status": "complete", "result": {"data": )" + deep + "}}"});
  auto prosa = backend({.polling_interval = 0});
  try {
    convert(prosa, "https://storage.example.com/a.wav");
    FAIL() << "a deeply nested job record was accepted";
  } catch (const clients::common::JsonTooDeep& error) {
    EXPECT_STREQ(error.what(), "Prosa STT sent JSON nested deeper than 512 levels; refused");
  }
}

TEST_F(HostileProsa, PollingObeysTheCallDeadline) {
  server_.set_statuses({"in_progress"});
  clients::http::CallPolicy policy = qorl_testing::policy_without_delays();
  policy.retry.deadline = 1s;
  const qorl_testing::ScopedCallPolicy scoped(policy);
  auto prosa = backend({.polling_interval = 2, .max_polls = 2});
  EXPECT_EQ(error_of([&] { convert(prosa, "https://storage.example.com/a.wav"); }),
            "Transcription job " + kFirstJob + " is not complete within the time limit of 1 s");
  EXPECT_EQ(server_.queries().size(), 1u);
}

TEST_F(HostileProsa, KeysThatCouldSplitHeadersAreRefusedBeforeAnyRequest) {
  auto prosa = backend({.api_key = "prosa-secret\nX-Injected: 1"});
  try {
    convert(prosa, "https://storage.example.com/a.wav");
    FAIL() << "a key with a line break was sent";
  } catch (const clients::common::InvalidCredential& error) {
    EXPECT_THAT(error.what(), Not(HasSubstr("prosa-secret")));
  }
  EXPECT_TRUE(server_.submissions().empty());
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text::prosa_audio_to_text
