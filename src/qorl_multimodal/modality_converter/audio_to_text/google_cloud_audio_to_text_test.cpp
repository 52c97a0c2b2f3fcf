#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"
#include "testing/audio.hpp"
#include "testing/cancellation.hpp"
#include "testing/fake_speech.hpp"
#include "testing/log_capture.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::google_cloud_audio_to_text {
namespace {

using qorl_core::Bytes;
using qorl_core::LogLevel;
using qorl_testing::AudioContainer;
using qorl_testing::sine_audio;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

// The package offers the backend by name.
static_assert(
    std::is_same_v<qorl_multimodal::modality_converter::audio_to_text::GoogleCloudAudioToText,
                   GoogleCloudAudioToText>);

constexpr const char* kBucket = "qorl-audio";
constexpr const char* kName = "GoogleCloudAudioToText";
constexpr const char* kConfig =
    R"({"audioChannelCount":1,"languageCode":"id-ID","alternativeLanguageCodes":["id-ID","en-US","en-GB"],)"
    R"("enableAutomaticPunctuation":true,"model":"latest_long"})";

class GoogleCloud : public GoogleCloudAudioToText {
 public:
  using GoogleCloudAudioToText::_convert_google_cloud_response_to_audio_transcripts;
  using GoogleCloudAudioToText::GoogleCloudAudioToText;
};

class GoogleCloudTest : public ::testing::Test {
 protected:
  GoogleCloudTest() {
    storage_.add_bucket(kBucket);
    env_.set("QORL_SPEECH_ENDPOINT", speech_.endpoint())
        .set("STORAGE_EMULATOR_HOST", storage_.endpoint());
    speech_.finish_with({{"Selamat pagi.", "4.700s", "id-id"},
                         {"Good morning.", "9.200s", "en-us"},
                         {"Sampai jumpa.", "15.900s", "id-ID"}});
  }

  GoogleCloudAudioToText::Params params(GoogleCloudAudioToText::Params params = {}) {
    if (params.credentials_json.is_none()) {
      params.credentials_json = dir_.write("key.json", google_.account().key_json()).string();
    }
    params.bucket_name = kBucket;
    // YouTube downloads, if any, go nowhere: a closed loopback port.
    params.proxy = "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
    return params;
  }

  std::string wav_file(double seconds) const {
    return dir_.write("speech.wav", sine_audio(AudioContainer::WAV, 2, 8000, seconds)).string();
  }

  // One attempt each: the clean-up failures below are meant to stay failures.
  qorl_testing::ScopedCallPolicy policy_{qorl_testing::policy_without_delays(1)};
  qorl_testing::FakeGoogle google_;
  qorl_testing::FakeStorage storage_{google_};
  qorl_testing::FakeSpeech speech_{google_, storage_};
  qorl_testing::ScopedEnv env_;
  qorl_testing::TempDir dir_;
};

TEST_F(GoogleCloudTest, ConstructorSettingsAndCredentials) {
  const GoogleCloudAudioToText defaults(params());
  EXPECT_EQ(defaults.alternative_language_codes,
            (std::vector<std::string>{"id-ID", "en-US", "en-GB"}));
  EXPECT_EQ(defaults.language_code, "id-ID");
  EXPECT_EQ(defaults.model, "latest_long");
  EXPECT_EQ(defaults.timeout, 300);
  EXPECT_EQ(defaults.bucket_name, kBucket);
  EXPECT_EQ(defaults.logger().name(), kName);

  const std::vector<std::string> five = {"a-A", "b-B", "c-C", "d-D", "e-E"};
  EXPECT_EQ(GoogleCloudAudioToText(params({.alternative_language_codes = five}))
                .alternative_language_codes,
            (std::vector<std::string>{"a-A", "b-B", "c-C"}));
  EXPECT_THAT(
      GoogleCloudAudioToText(params({.alternative_language_codes = std::vector<std::string>{}}))
          .alternative_language_codes,
      IsEmpty());

  // Key content as a map; constructing sends nothing.
  const auto key =
      qorl_core::from_ordered_json(nlohmann::ordered_json::parse(google_.account().key_json()));
  GoogleCloudAudioToText from_map(params({.credentials_json = key}));
  EXPECT_EQ(google_.token_requests(), 0);
  EXPECT_EQ(qorl_core::run_sync(from_map.convert(wav_file(1))).size(), 3u);

  EXPECT_THROW(
      GoogleCloudAudioToText(params({.credentials_json = (dir_.path() / "absent.json").string()})),
      clients::google::Error);
  const qorl_core::Map partial{{"type", "service_account"}};
  EXPECT_THROW(GoogleCloudAudioToText(params({.credentials_json = partial})),
               clients::google::Error);
}

TEST_F(GoogleCloudTest, AudioOfUpToAMinuteIsSentInline) {
  const std::string path = wav_file(60.0);  // exactly 60 s counts as short
  GoogleCloudAudioToText backend(params());
  qorl_testing::LogCapture capture;
  const auto transcripts = qorl_core::run_sync(backend.run({{"audio_source", path}}));

  ASSERT_EQ(transcripts.size(), 3u);
  const std::vector<std::tuple<std::string, double, double, std::string>> expected = {
      {"Selamat pagi.", 0, 4, "id"}, {"Good morning.", 4, 9, "en"}, {"Sampai jumpa.", 9, 15, "id"}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(transcripts[i].text, std::get<0>(expected[i]));
    EXPECT_EQ(transcripts[i].start_time, std::get<1>(expected[i]));
    EXPECT_EQ(transcripts[i].end_time, std::get<2>(expected[i]));
    EXPECT_EQ(transcripts[i].lang_id, std::get<3>(expected[i]));
  }

  const auto recognitions = speech_.recognitions();
  ASSERT_EQ(recognitions.size(), 1u);
  EXPECT_EQ(recognitions[0].body["config"].dump(), kConfig);
  EXPECT_TRUE(recognitions[0].body["audio"].contains("content"));
  const auto sent = qorl_testing::decode_audio(recognitions[0].audio);
  EXPECT_EQ(sent.channels, 1);
  EXPECT_EQ(sent.frames, 60 * 8000);
  EXPECT_TRUE(storage_.uploads().empty());
  EXPECT_EQ(google_.token_requests(), 1);

  EXPECT_THAT(
      capture.messages(kName),
      ElementsAre("[Start 'GoogleCloudAudioToText'] Converting audio to text from: '" + path + "'",
                  "Converting audio source: " + path,
                  "Audio source is a valid audio file path: " + path,
                  std::string("Transcribing audio with config: ") + kConfig,
                  "Received transcription response with 3 results",
                  "[Finished 'GoogleCloudAudioToText'] Converted audio to text: 3 audio "
                  "transcript(s)"));
}

TEST_F(GoogleCloudTest, LongerAudioGoesThroughATemporaryObject) {
  const std::string path = wav_file(61.0);
  GoogleCloudAudioToText backend(params());
  qorl_testing::LogCapture capture;
  EXPECT_EQ(qorl_core::run_sync(backend.convert(path)).size(), 3u);

  ASSERT_EQ(storage_.uploads().size(), 1u);
  const std::string name = storage_.uploads()[0].name;
  EXPECT_THAT(name,
              MatchesRegex("audio-files/[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-"
                           "[0-9a-f]{12}\\.flac"));
  const auto recognitions = speech_.recognitions();
  ASSERT_EQ(recognitions.size(), 1u);
  EXPECT_EQ(recognitions[0].body["audio"],
            nlohmann::ordered_json({{"uri", std::string("gs://qorl-audio/") + name}}));
  const auto sent = qorl_testing::decode_audio(recognitions[0].audio);
  EXPECT_EQ(sent.channels, 1);
  EXPECT_EQ(sent.frames, 61 * 8000);
  EXPECT_THAT(storage_.object_names(kBucket), IsEmpty());

  EXPECT_THAT(capture.messages(kName),
              ElementsAre("Converting audio source: " + path,
                          "Audio source is a valid audio file path: " + path,
                          "Audio duration exceeds 60 seconds, uploading to GCS",
                          "Successfully uploaded audio to GCS: " + name,
                          std::string("Transcribing audio with config: ") + kConfig,
                          "Received transcription response with 3 results",
                          "Successfully deleted audio file from GCS: " + name));
}

TEST_F(GoogleCloudTest, FailedOrUnfinishedRecognitionsStillRemoveTheObject) {
  const std::string path = wav_file(61.0);
  qorl_testing::LogCapture capture;

  // The recognition's error propagates, also when the clean-up fails too.
  speech_.fail_with(3, "Audio data does not appear to be FLAC.");
  storage_.fail_next_delete(503);
  EXPECT_THROW(qorl_core::run_sync(GoogleCloudAudioToText(params()).convert(path)),
               clients::google::OperationError);
  const std::string kept = storage_.uploads().at(0).name;
  EXPECT_THAT(
      capture.messages(kName, LogLevel::ERROR),
      ElementsAre("Error transcribing audio: Operation failed with status code 3: Audio data does "
                  "not appear to be FLAC."));
  EXPECT_THAT(
      capture.messages(kName, LogLevel::WARNING),
      ElementsAre("Failed to delete audio file from GCS: " + kept + " with error: 503 DELETE " +
                  storage_.endpoint() + "/storage/v1/b/qorl-audio/o/audio-files%2F" +
                  kept.substr(12) + ": Backend Error"));
  EXPECT_EQ(storage_.object_names(kBucket), std::vector<std::string>{kept});

  capture.clear();
  speech_.never_finish();
  EXPECT_THROW(qorl_core::run_sync(GoogleCloudAudioToText(params({.timeout = 1})).convert(path)),
               clients::google::OperationTimeoutError);
  EXPECT_THAT(
      capture.messages(kName, LogLevel::ERROR),
      ElementsAre("Error transcribing audio: Operation did not complete within the designated "
                  "timeout of 1 seconds."));
  const std::string removed = storage_.uploads().at(1).name;
  EXPECT_EQ(capture.messages(kName).back(), "Successfully deleted audio file from GCS: " + removed);
  EXPECT_EQ(storage_.object_names(kBucket), std::vector<std::string>{kept});
}

// Cancelled while it waits for the next poll, and while the stored upload's answer is held
// back: either way the object goes.
TEST_F(GoogleCloudTest, CancelledConversionsRemoveTheirObject) {
  speech_.never_finish();
  const std::string path = wav_file(61.0);
  GoogleCloudAudioToText backend(params());
  EXPECT_TRUE(
      qorl_testing::ends_cancelled(backend.convert(path), [&] { return speech_.polls() > 0; }));
  EXPECT_EQ(speech_.polls(), 1);

  storage_.delay_upload_answers(std::chrono::seconds(2));
  const std::size_t uploads = storage_.uploads().size();
  EXPECT_TRUE(qorl_testing::ends_cancelled(backend.convert(path),
                                           [&] { return storage_.uploads().size() > uploads; }));
  EXPECT_EQ(speech_.polls(), 1);

  std::vector<std::string> uploaded;
  for (const auto& upload : storage_.uploads()) {
    uploaded.push_back(std::string(kBucket) + "/" + upload.name);
  }
  ASSERT_EQ(uploaded.size(), 2u);
  EXPECT_EQ(storage_.deletions(), uploaded);
  EXPECT_THAT(storage_.object_names(kBucket), IsEmpty());
}

TEST_F(GoogleCloudTest, FailedCleanUpAfterSuccessKeepsTheTranscript) {
  storage_.fail_next_delete(503);
  qorl_testing::LogCapture capture;
  const auto transcripts =
      qorl_core::run_sync(GoogleCloudAudioToText(params()).convert(wav_file(61.0)));
  EXPECT_EQ(transcripts.size(), 3u);
  EXPECT_EQ(capture.messages(kName, LogLevel::WARNING).size(), 1u);
  EXPECT_EQ(storage_.object_names(kBucket).size(), 1u);
}

TEST_F(GoogleCloudTest, ResponsesWithoutResultsOrUnusableOnes) {
  speech_.finish_with({});
  GoogleCloud backend(params());
  qorl_testing::LogCapture capture;
  const std::string base64 =
      qorl_core::base64_encode(sine_audio(AudioContainer::WAV, 1, 8000, 0.5));
  EXPECT_THAT(qorl_core::run_sync(backend.convert(base64)), IsEmpty());
  EXPECT_THAT(capture.messages("GoogleCloud"),
              Contains("Received transcription response with 0 results"));

  capture.clear();
  clients::google::LongRunningRecognizeResponse response;
  response.results.push_back({{{"Halo."}}, std::chrono::milliseconds(2999), "not a tag!"});
  const auto records = backend._convert_google_cloud_response_to_audio_transcripts(response);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].end_time, 2);
  EXPECT_EQ(records[0].lang_id, std::nullopt);
  EXPECT_THAT(capture.messages("GoogleCloud"),
              ElementsAre("Failed to convert language code: not a tag! to ISO 639 code"));

  response.results.push_back({{}, std::chrono::seconds(5), "en-us"});
  EXPECT_THROW(backend._convert_google_cloud_response_to_audio_transcripts(response),
               qorl_core::IndexError);

  try {
    qorl_core::run_sync(backend.convert("neither a path, base64, nor a link"));
    FAIL();
  } catch (const qorl_core::ValueError& e) {
    EXPECT_STREQ(e.what(), "Unsupported audio source");
  }
  EXPECT_EQ(speech_.recognitions().size(), 1u);
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text::google_cloud_audio_to_text
