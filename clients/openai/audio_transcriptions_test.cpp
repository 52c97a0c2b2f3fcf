#include "clients/openai/audio_transcriptions.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "clients/common/json_parse.hpp"
#include "clients/common/run_sync.hpp"
#include "clients/common/secret_text.hpp"
#include "testing/fake_openai.hpp"
#include "testing/http_server.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_env.hpp"

namespace clients::openai {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using Part = qorl_testing::FakeOpenAI::Part;

using common::run_sync;

ClientOptions options_for(std::string api_key, std::string base_url, int max_retries) {
  ClientOptions options;
  options.api_key = std::move(api_key);
  options.base_url = std::move(base_url);
  options.policy.retry = http::RetryPolicy::without_delays(1 + max_retries);
  return options;
}

MATCHER_P2(FieldIs, name, data, "") { return arg.name == name && arg.data == data; }

constexpr std::string_view kFlac("fLaC\0\x01binary", 12);

TranscriptionCreateParams verbose_params(std::vector<std::string> granularities) {
  TranscriptionCreateParams p;
  p.file = {"audio.flac", kFlac, "audio/flac"};
  p.model = "whisper-1";
  p.language = "en";
  p.prompt = "Glossary: QORL";
  p.response_format = "verbose_json";
  p.temperature = 0.2;
  p.timestamp_granularities = std::move(granularities);
  return p;
}

class AudioTranscriptionsTest : public ::testing::Test {
 protected:
  AudioTranscriptionsClient client(int max_retries = 0) {
    return AudioTranscriptionsClient(
        options_for(qorl_testing::FakeOpenAI::kApiKey, server_.base_url(), max_retries));
  }
  qorl_testing::FakeOpenAI server_;
};

TEST_F(AudioTranscriptionsTest, SendsTheOfficialMultipartFieldsInOrder) {
  run_sync(client().create(verbose_params({"segment", "word"})));
  const auto uploads = server_.uploads();
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].authorization, "Bearer sk-test-key");
  const auto& parts = uploads[0].parts;
  EXPECT_THAT(
      parts,
      ElementsAre(FieldIs("model", "whisper-1"), FieldIs("language", "en"),
                  FieldIs("prompt", "Glossary: QORL"), FieldIs("response_format", "verbose_json"),
                  FieldIs("temperature", "0.2"), FieldIs("timestamp_granularities[]", "segment"),
                  FieldIs("timestamp_granularities[]", "word"),
                  FieldIs("file", std::string("fLaC\0\x01binary", 12))));
  EXPECT_EQ(parts.back().filename, "audio.flac");
  EXPECT_EQ(parts.back().content_type, "audio/flac");
  EXPECT_EQ(parts[0].filename, "");  // plain fields carry no file name
}

TEST_F(AudioTranscriptionsTest, LeavesOutAbsentFieldsAndWritesWholeTemperaturesAsFloats) {
  auto params = verbose_params({"segment"});
  params.language.reset();
  params.prompt.reset();
  params.temperature = 0.0;
  run_sync(client().create(params));
  const auto uploads = server_.uploads();
  std::vector<std::string> names;
  for (const Part& p : uploads.at(0).parts) names.push_back(p.name);
  EXPECT_THAT(names, ElementsAre("model", "response_format", "temperature",
                                 "timestamp_granularities[]", "file"));
  EXPECT_EQ(uploads.at(0).part("temperature")->data, "0.0");
}

TEST_F(AudioTranscriptionsTest, ParsesTheVerboseAnswer) {
  server_.set_transcript("english", {{" Hello.", 0.0, 1.5}, {" Bye.", 1.5, 2.25}},
                         {{"Hello", 0.1, 0.9}});
  const Transcription segments = run_sync(client().create(verbose_params({"segment"})));
  EXPECT_EQ(segments.language, "english");
  EXPECT_EQ(segments.text, " Hello. Bye.");
  ASSERT_TRUE(segments.segments);
  ASSERT_EQ(segments.segments->size(), 2u);
  EXPECT_EQ((*segments.segments)[1].text, " Bye.");
  EXPECT_DOUBLE_EQ((*segments.segments)[1].end, 2.25);
  EXPECT_FALSE(segments.words);

  const Transcription words = run_sync(client().create(verbose_params({"word"})));
  EXPECT_FALSE(words.segments);
  ASSERT_TRUE(words.words);
  ASSERT_EQ(words.words->size(), 1u);
  EXPECT_EQ((*words.words)[0].word, "Hello");
  EXPECT_DOUBLE_EQ((*words.words)[0].start, 0.1);
}

TEST_F(AudioTranscriptionsTest, BaseUrlComesFromTheOptionsThenTheEnvironment) {
  qorl_testing::ScopedEnv env;
  env.set("OPENAI_BASE_URL", server_.base_url() + "/");
  ClientOptions options;
  options.api_key = qorl_testing::FakeOpenAI::kApiKey;
  AudioTranscriptionsClient from_env(options);
  run_sync(from_env.create(verbose_params({"segment"})));
  EXPECT_EQ(server_.uploads().size(), 1u);

  const std::string closed =
      "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port()) + "/v1";
  AudioTranscriptionsClient explicit_url(options_for(qorl_testing::FakeOpenAI::kApiKey, closed, 0));
  EXPECT_THROW(run_sync(explicit_url.create(verbose_params({"segment"}))), APIConnectionError);
  EXPECT_EQ(server_.uploads().size(), 1u);
}

TEST_F(AudioTranscriptionsTest, RefusedRequestsRaiseTheirKindWithoutTheKey) {
  AudioTranscriptionsClient wrong_key(options_for("sk-wrong-secret", server_.base_url(), 2));
  try {
    run_sync(wrong_key.create(verbose_params({"segment"})));
    FAIL();
  } catch (const AuthenticationError& e) {
    EXPECT_EQ(e.status_code(), 401);
    EXPECT_STREQ(e.what(),
                 "Error code: 401 - Incorrect API key provided. You can find your API key in "
                 "your account settings.");
    EXPECT_THAT(e.what(), Not(HasSubstr("sk-wrong-secret")));
  }
  EXPECT_EQ(server_.uploads().size(), 1u);  // a 401 is not retried

  auto params = verbose_params({"segment"});
  params.response_format = "json";
  EXPECT_THROW(run_sync(client().create(params)), BadRequestError);
}

TEST_F(AudioTranscriptionsTest, RetriesServerErrorsThenGivesUp) {
  server_.fail_next(500, 2);
  EXPECT_NO_THROW(run_sync(client(2).create(verbose_params({"segment"}))));
  EXPECT_EQ(server_.uploads().size(), 3u);

  server_.fail_next(500, 1);
  EXPECT_THROW(run_sync(client(0).create(verbose_params({"segment"}))), InternalServerError);
  EXPECT_EQ(server_.uploads().size(), 4u);
}

TEST(HostileCredentials, OpenAIKeysThatCouldSplitHeadersAreRefusedBeforeAnyRequest) {
  qorl_testing::FakeOpenAI server;
  try {
    AudioTranscriptionsClient client(
        options_for("sk-secret\r\nX-Injected: 1", server.base_url(), 0));
    run_sync(client.create(verbose_params({"segment"})));
    FAIL() << "a key with a line break was sent";
  } catch (const common::InvalidCredential& e) {
    EXPECT_THAT(e.what(), Not(HasSubstr("sk-secret")));
  }
  EXPECT_TRUE(server.uploads().empty());
}

TEST(HostileJson, DeeplyNestedTranscriptionAnswersAreRefused) {
  qorl_testing::HttpServer server;
  const std::string deep =
      R"({"text": "hi", "segments": )" + std::string(100000, '[') + std::string(100000, ']') + "}";
  server.server().Post("/v1/audio/transcriptions",
                       [&](const httplib::Request&, httplib::Response& response) {
                         response.set_content(deep, "application/json");
                       });
  server.start();
  AudioTranscriptionsClient client(options_for("sk-key", server.url("/v1"), 0));
  try {
    run_sync(client.create(verbose_params({"segment"})));
    FAIL() << "a deeply nested answer was accepted";
  } catch (const common::JsonTooDeep& e) {
    EXPECT_THAT(e.what(), HasSubstr("OpenAI"));
  }
}

}  // namespace
}  // namespace clients::openai
