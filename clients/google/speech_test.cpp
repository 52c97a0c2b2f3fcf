#include "clients/google/speech.hpp"

#include <gtest/gtest.h>

#include "clients/common/base64.hpp"
#include "clients/common/run_sync.hpp"
#include "clients/google/service_account.hpp"
#include "testing/canned_server.hpp"
#include "testing/fake_speech.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"

namespace clients::google {
namespace {

using namespace std::chrono_literals;
using Result = qorl_testing::FakeSpeech::Result;
using common::run_sync;
using qorl_testing::Fault;

class SpeechClientTest : public ::testing::Test {
 protected:
  SpeechClientTest() { env_.set("QORL_SPEECH_ENDPOINT", speech_.endpoint() + "/"); }

  SpeechClient client() const {
    SpeechOptions options;
    options.credentials =
        std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
            google_.account().key_json(), {std::string(CLOUD_PLATFORM_SCOPE)}));
    options.polling = {10ms, 40ms, 2.0};
    return SpeechClient(options);
  }

  static RecognitionConfig config() {
    RecognitionConfig config;
    config.audio_channel_count = 1;
    config.language_code = "id-ID";
    config.alternative_language_codes = {"en-US", "en-GB"};
    config.enable_automatic_punctuation = true;
    config.model = "latest_long";
    return config;
  }

  qorl_testing::ScopedCallPolicy policy_;
  qorl_testing::FakeGoogle google_;
  qorl_testing::FakeStorage storage_{google_};
  qorl_testing::FakeSpeech speech_{google_, storage_};
  qorl_testing::ScopedEnv env_;
};

TEST_F(SpeechClientTest, ConfigGoesOutInTheServiceJsonNames) {
  EXPECT_EQ(to_json(RecognitionConfig{}), "{}");
  EXPECT_EQ(
      to_json(config()),
      R"({"audioChannelCount":1,"languageCode":"id-ID","alternativeLanguageCodes":["en-US","en-GB"],)"
      R"("enableAutomaticPunctuation":true,"model":"latest_long"})");
}

TEST_F(SpeechClientTest, RecognitionIsPolledUntilDone) {
  speech_.finish_with({{"Halo semua.", "4.700s", "id-id"},
                       {std::nullopt, "9.000000001s", "en-us"},
                       {"Bye.", "15s", ""}},
                      /*polls_before_done=*/2);
  const std::string flac = std::string("fLaC") + '\0' + "\xff audio";
  const SpeechClient speech = client();
  const Operation started = run_sync(speech.long_running_recognize(config(), {flac, std::nullopt}));
  EXPECT_FALSE(started.done);
  const LongRunningRecognizeResponse response = run_sync(speech.wait_for_response(started, 10s));
  EXPECT_EQ(speech_.polls(), 3);

  ASSERT_EQ(response.results.size(), 3u);
  EXPECT_EQ(response.results[0].alternatives.at(0).transcript, "Halo semua.");
  EXPECT_EQ(response.results[0].result_end_time, 4700ms);
  EXPECT_EQ(response.results[0].language_code, "id-id");
  EXPECT_TRUE(response.results[1].alternatives.empty());
  EXPECT_EQ(response.results[1].result_end_time, 9s + 1ns);
  EXPECT_EQ(response.results[2].result_end_time, 15s);

  const auto recognitions = speech_.recognitions();
  ASSERT_EQ(recognitions.size(), 1u);
  EXPECT_EQ(recognitions[0].audio, flac);
  EXPECT_EQ(recognitions[0].body["config"].dump(), to_json(config()));
  EXPECT_EQ(recognitions[0].body["audio"],
            nlohmann::ordered_json({{"content", common::base64_encode(flac)}}));
}

TEST_F(SpeechClientTest, FailuresOfTheRequestAndOfTheOperation) {
  const SpeechClient speech = client();
  speech_.fail_with(3, "Audio data does not appear to be FLAC.", 1);
  try {
    const Operation started =
        run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
    run_sync(speech.wait_for_response(started, 10s));
    FAIL();
  } catch (const OperationError& e) {
    EXPECT_EQ(e.status().code, 3);
    EXPECT_STREQ(e.what(),
                 "Operation failed with status code 3: Audio data does not appear to be FLAC.");
  }

  RecognitionConfig too_many = config();
  too_many.alternative_language_codes = {"a", "b", "c", "d"};
  try {
    run_sync(speech.long_running_recognize(too_many, {"fLaC", std::nullopt}));
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 400);
    EXPECT_STREQ(e.what(),
                 ("400 POST " + speech_.endpoint() +
                  "/v1/speech:longrunningrecognize: Invalid recognition 'config': too many "
                  "alternative language codes.")
                     .c_str());
  }
  // The object a URI names must exist.
  try {
    run_sync(speech.long_running_recognize(config(),
                                           {std::nullopt, "gs://bucket/audio-files/absent.flac"}));
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 404);
  }
  // Another account's token is refused.
  qorl_testing::ServiceAccount stranger(google_.account().token_uri());
  SpeechOptions options;
  options.credentials =
      std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
          stranger.key_json(), {std::string(CLOUD_PLATFORM_SCOPE)}));
  EXPECT_THROW(
      run_sync(SpeechClient(options).long_running_recognize(config(), {"fLaC", std::nullopt})),
      Error);
  options.credentials = nullptr;
  EXPECT_THROW(
      run_sync(SpeechClient(options).long_running_recognize(config(), {"fLaC", std::nullopt})),
      HttpError);
}

TEST_F(SpeechClientTest, WaitEndsAtTheDeadline) {
  speech_.never_finish();
  const SpeechClient speech = client();
  const Operation started =
      run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
  try {
    run_sync(speech.wait_for_response(started, 300ms));
    FAIL();
  } catch (const OperationTimeoutError& e) {
    EXPECT_STREQ(e.what(),
                 "Operation did not complete within the designated timeout of 300 milliseconds.");
  }
  // Polled at once, then after 10, 20, 40, 40, ... ms.
  EXPECT_GE(speech_.polls(), 3);
  EXPECT_THROW(run_sync(speech.wait_for_response(started, 0s)), OperationTimeoutError);
}

// The call policy's deadline (the command's --timeout) bounds the whole wait, whatever the
// wait's own time limit.
using HostileSpeechPolling = SpeechClientTest;

TEST_F(HostileSpeechPolling, WaitObeysTheCallDeadline) {
  speech_.never_finish();
  SpeechOptions options;
  options.credentials =
      std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
          google_.account().key_json(), {std::string(CLOUD_PLATFORM_SCOPE)}));
  options.polling = {10ms, 40ms, 2.0};
  options.policy.retry.deadline = 300ms;
  const SpeechClient speech(options);
  const Operation started =
      run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
  try {
    run_sync(speech.wait_for_response(started, 1h));
    FAIL();
  } catch (const OperationTimeoutError& e) {
    EXPECT_STREQ(e.what(),
                 "Operation did not complete within the designated timeout of 300 milliseconds.");
  }
}

TEST_F(SpeechClientTest, MalformedDurationsAreRefused) {
  const SpeechClient speech = client();
  for (const char* bad : {"4.7", "4.s", ".5s", "1.0000000001s", "4,7s", "s"}) {
    speech_.finish_with({{"x", bad, "en-us"}});
    const Operation started =
        run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
    EXPECT_THROW(run_sync(speech.wait_for_response(started, 10s)), Error) << bad;
  }
  speech_.finish_with({{"x", "-1.5s", "en-us"}});
  const Operation started =
      run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
  const auto response = run_sync(speech.wait_for_response(started, 10s));
  EXPECT_EQ(response.results.at(0).result_end_time, -1500ms);
}

TEST_F(SpeechClientTest, MembersOfAnotherTypeMakeTheAnswerInvalid) {
  const std::pair<const char*, const char*> answers[] = {
      {R"({"name": "op", "done": "yes"})", "done"},
      {R"({"name": "op", "done": true, "error": [14]})", "error"},
      {R"({"name": "op", "done": true,
           "response": {"results": [{"alternatives": [{"transcript": 5}]}]}})",
       "transcript"}};
  for (const auto& [answer, member] : answers) {
    const qorl_testing::CannedServer server({200, answer});
    SpeechOptions options;
    options.endpoint = server.url();
    Operation running;
    running.name = "op";
    try {
      run_sync(SpeechClient(options).wait_for_response(running, 10s));
      ADD_FAILURE() << "accepted " << answer;
    } catch (const Error& error) {
      EXPECT_EQ(std::string(error.what()),
                "Invalid Speech-to-Text answer: unexpected type of " + std::string(member));
    }
  }
}

}  // namespace
}  // namespace clients::google

namespace clients::google {
namespace {

// Through a proxy that fails requests on cue.
class SpeechFaultTest : public SpeechClientTest {
 protected:
  SpeechClient faulty_client() const {
    SpeechOptions options;
    options.endpoint = proxy_.url();
    options.credentials =
        std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
            google_.account().key_json(), {std::string(CLOUD_PLATFORM_SCOPE)}));
    options.polling = {0ms, 0ms, 1.0};
    return SpeechClient(options);
  }
  qorl_testing::FaultProxy proxy_{speech_.endpoint()};
};

TEST_F(SpeechFaultTest, ThrottledCreateAndFailingPollsAreRetried) {
  speech_.finish_with({{"Halo.", "1s", "id-id"}}, /*polls_before_done=*/1);
  proxy_.inject(Fault::answer(429, {{"Retry-After", "3"}}), "longrunningrecognize");
  proxy_.inject(Fault::answer(429, {{"Retry-After", "Wed, 21 Oct 2099 07:28:00 GMT"}}),
                "longrunningrecognize");
  proxy_.inject(Fault::answer(503), "operations");
  proxy_.inject(Fault::reset(), "operations");
  const SpeechClient speech = faulty_client();
  const Operation started =
      run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
  const auto response = run_sync(speech.wait_for_response(started, 10s));
  EXPECT_EQ(response.results.at(0).alternatives.at(0).transcript, "Halo.");
  EXPECT_EQ(proxy_.requests("longrunningrecognize"), 3);
  EXPECT_EQ(speech_.recognitions().size(), 1u);
  EXPECT_EQ(speech_.polls(), 2);

  // A create the server may have acted on is not sent again.
  proxy_.inject(Fault::answer(503), "longrunningrecognize");
  EXPECT_THROW(run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt})),
               HttpError);
  EXPECT_EQ(proxy_.requests("longrunningrecognize"), 4);
}

TEST_F(SpeechFaultTest, SilentPollsEndAtTheOperationDeadline) {
  speech_.finish_with({{"Halo.", "1s", "id-id"}}, /*polls_before_done=*/5);
  const SpeechClient speech = faulty_client();
  const Operation started =
      run_sync(speech.long_running_recognize(config(), {"fLaC", std::nullopt}));
  proxy_.inject(Fault::hang(), "operations", 10);
  EXPECT_THROW(run_sync(speech.wait_for_response(started, 300ms)), OperationTimeoutError);
}

}  // namespace
}  // namespace clients::google
