#include "qorl_inference/google_lm_invoker.hpp"

#include <gtest/gtest.h>
#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <nlohmann/json.hpp>

#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/exceptions.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_env.hpp"

namespace qorl_inference {
namespace {

using json = nlohmann::json;
using qorl_testing::FakeGeminiServer;
using namespace std::chrono_literals;

const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0", 29);

std::string wav_bytes(std::size_t size) {
  std::string wav(
      "RIFF\x24\0\0\0WAVEfmt "
      "\x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0data\0\0\0\0",
      44);
  wav.resize(size, '\x01');
  return wav;
}

struct Transcript : qorl_core::Record<Transcript> {
  std::string text;
  std::optional<std::string> lang_id;
  double start_time = 0;
  static const qorl_core::Schema<Transcript>& schema() {
    static const qorl_core::Schema<Transcript> s{
        "Transcript",
        {qorl_core::field("text", &Transcript::text).required(),
         qorl_core::field("lang_id", &Transcript::lang_id).required(),
         qorl_core::field("start_time", &Transcript::start_time).required()}};
    return s;
  }
};

std::shared_ptr<ResponseSchema> transcript_schema() {
  return ResponseSchema::of<Transcript>(
      json_schema::object({{"text", json_schema::text()},
                           {"lang_id", json_schema::nullable(json_schema::text())},
                           {"start_time", json_schema::number()}}));
}

class GoogleLMInvokerTest : public ::testing::Test {
 protected:
  GoogleLMInvokerOptions options() const {
    GoogleLMInvokerOptions o;
    o.model_name = "gemini-2.5-flash";
    o.api_key = server.api_key();
    o.base_url = server.base_url();
    o.retry_config = {0, 0.0};
    o.backoff = {1ms, 5ms};
    o.file_poll_interval = 1ms;
    return o;
  }
  static LMResponse invoke(GoogleLMInvoker& invoker, std::vector<Message> messages) {
    return qorl_core::run_sync(invoker.invoke(std::move(messages)));
  }
  static std::vector<Message> hello() { return {Message::user({std::string("Hello")})}; }
  // The message of the BaseInvokerError the call raises.
  static std::string failure(GoogleLMInvoker& invoker, std::vector<Message> messages) {
    try {
      invoke(invoker, std::move(messages));
    } catch (const BaseInvokerError& error) {
      return error.what();
    }
    ADD_FAILURE() << "no BaseInvokerError";
    return {};
  }

  FakeGeminiServer server;
};

TEST_F(GoogleLMInvokerTest, SendsTheGenerateContentWireFormat) {
  auto o = options();
  o.response_schema = transcript_schema();
  GoogleLMInvoker invoker(o);
  server.set_answer_text(R"({"text": "halo", "lang_id": null, "start_time": 1.5})");
  auto image = Attachment::from_bytes(qorl_core::Bytes(kPng), "a.png");
  auto video = Attachment::from_url("https://youtu.be/dQw4w9WgXcQ");
  auto clip = Attachment::from_url("https://media.example.test/clip.mp4");

  const auto response =
      invoke(invoker, {Message::system("Be exact."),
                       Message::user({image, video, clip, std::string("Describe.")})});

  auto transcript = response.structured_output_as<Transcript>();
  ASSERT_TRUE(transcript);
  EXPECT_EQ(transcript->text, "halo");
  EXPECT_FALSE(transcript->lang_id);
  EXPECT_EQ(transcript->start_time, 1.5);

  const auto sent = server.generate_requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].path, "/v1beta/models/gemini-2.5-flash:generateContent");
  EXPECT_EQ(sent[0].query, "");  // the key travels in its header only
  EXPECT_EQ(sent[0].header("x-goog-api-key"), server.api_key());
  const auto body = json::parse(sent[0].body);
  EXPECT_EQ(body["systemInstruction"], json::parse(R"({"parts": [{"text": "Be exact."}]})"));
  ASSERT_EQ(body["contents"].size(), 1u);
  EXPECT_EQ(body["contents"][0]["role"], "user");
  const auto& parts = body["contents"][0]["parts"];
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0]["inlineData"]["mimeType"], "image/png");
  EXPECT_EQ(qorl_core::base64_decode(parts[0]["inlineData"]["data"].get<std::string>()), kPng);
  EXPECT_EQ(parts[1], json::parse(R"({"fileData": {"fileUri": "https://youtu.be/dQw4w9WgXcQ"}})"));
  EXPECT_EQ(parts[2], json::parse(R"({"fileData": {"mimeType": "video/mp4",
                                      "fileUri": "https://media.example.test/clip.mp4"}})"));
  EXPECT_EQ(parts[3], json::parse(R"({"text": "Describe."})"));
  EXPECT_EQ(body["generationConfig"], json::parse(R"({
      "responseMimeType": "application/json",
      "responseSchema": {
        "type": "OBJECT",
        "properties": {"text": {"type": "STRING"},
                       "lang_id": {"type": "STRING", "nullable": true},
                       "start_time": {"type": "NUMBER"}},
        "propertyOrdering": ["text", "lang_id", "start_time"],
        "required": ["text", "lang_id", "start_time"]}})"));
}

TEST_F(GoogleLMInvokerTest, PlainTextAnswersSkipThoughts) {
  GoogleLMInvoker invoker(options());
  server.queue_reply({200, R"({"candidates": [{"content": {"role": "model", "parts": [
      {"text": "thinking...", "thought": true}, {"text": "Hello "}, {"text": "there."}]}}]})"});
  const auto response = invoke(invoker, hello());
  EXPECT_EQ(response.text, "Hello there.");
  EXPECT_TRUE(response.structured_output.is_none());
  const auto body = json::parse(server.generate_requests()[0].body);
  EXPECT_FALSE(body.contains("systemInstruction"));
  EXPECT_FALSE(body.contains("generationConfig"));
}

TEST_F(GoogleLMInvokerTest, LargeAttachmentsGoThroughTheFilesApi) {
  auto o = options();
  o.inline_data_limit = 2000;
  server.set_request_size_limit(3000);  // the audio could not travel inline
  server.set_processing(2);
  GoogleLMInvoker invoker(o);
  auto audio = Attachment::from_bytes(qorl_core::Bytes(wav_bytes(4000)), "talk.wav");
  auto image = Attachment::from_bytes(qorl_core::Bytes(kPng));

  invoke(invoker, {Message::user({image, audio, std::string("Transcribe.")})});

  std::vector<FakeGeminiServer::Recorded> uploads, polls;
  for (const auto& request : server.requests()) {
    if (request.path == "/upload/v1beta/files") uploads.push_back(request);
    if (request.method == "GET") polls.push_back(request);
  }
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[0].header("X-Goog-Upload-Protocol"), "resumable");
  EXPECT_EQ(uploads[0].header("X-Goog-Upload-Command"), "start");
  EXPECT_EQ(uploads[0].header("X-Goog-Upload-Header-Content-Length"), "4000");
  EXPECT_EQ(uploads[0].header("X-Goog-Upload-Header-Content-Type"), "audio/wav");
  EXPECT_EQ(json::parse(uploads[0].body), json::parse(R"({"file": {"displayName": "talk.wav"}})"));
  EXPECT_EQ(uploads[1].header("X-Goog-Upload-Command"), "upload, finalize");
  EXPECT_EQ(uploads[1].header("X-Goog-Upload-Offset"), "0");
  EXPECT_EQ(uploads[1].header("x-goog-api-key"), "");  // the key stays off the upload address
  EXPECT_EQ(uploads[1].header("Content-Type"), "audio/wav");
  EXPECT_EQ(uploads[1].body, audio->data.str());
  EXPECT_EQ(polls.size(), 2u);  // until the file is ACTIVE

  const auto body = json::parse(server.generate_requests().at(0).body);
  const auto& parts = body["contents"][0]["parts"];
  EXPECT_TRUE(parts[0].contains("inlineData"));  // the small image stays inline
  EXPECT_EQ(
      parts[1],
      (json{{"fileData",
             {{"mimeType", "audio/wav"}, {"fileUri", server.base_url() + "/v1beta/files/1"}}}}));
  EXPECT_EQ(server.removed_files(), std::vector<std::string>{"files/1"});
  EXPECT_TRUE(server.files().empty());
}

TEST_F(GoogleLMInvokerTest, MediaTypesGoAsTheServiceNamesThemAndOthersAreRefusedBeforeSending) {
  GoogleLMInvoker invoker(options());
  auto wav = Attachment::from_bytes(qorl_core::Bytes(wav_bytes(100)), "talk.wav");
  ASSERT_EQ(wav->mime_type, "audio/x-wav");  // libmagic's name stays on the attachment
  auto mov = Attachment::from_url("https://media.example.test/clip.MOV");
  invoke(invoker, {Message::user({wav, mov, std::string("Describe.")})});
  const auto parts = json::parse(server.generate_requests().at(0).body)["contents"][0]["parts"];
  EXPECT_EQ(parts[0]["inlineData"]["mimeType"], "audio/wav");
  EXPECT_EQ(parts[1]["fileData"]["mimeType"], "video/mov");

  auto o = options();
  o.inline_data_limit = 10;  // the GIF would be uploaded
  GoogleLMInvoker uploading(o);
  const std::string gif(
      "GIF89a\x01\0\x01\0\x80\0\0\0\0\0\xff\xff\xff!\xf9\x04\x01\0\0\0\0,"
      "\0\0\0\0\x01\0\x01\0\0\x02\x02D\x01\0;",
      43);
  for (const auto& refused : {Attachment::from_bytes(qorl_core::Bytes(gif), "a.gif"),
                              Attachment::from_url("https://media.example.test/clip.mkv")}) {
    const auto requests_before = server.requests().size();
    const auto message = failure(uploading, {Message::user({wav, refused})});
    EXPECT_NE(message.find("'" + refused->mime_type + "'"), std::string::npos) << message;
    EXPECT_NE(message.find("image/png, image/jpeg, image/webp"), std::string::npos) << message;
    EXPECT_EQ(server.requests().size(), requests_before);  // not even the WAV was uploaded
  }
}

TEST_F(GoogleLMInvokerTest, AFileThatFailsProcessingIsAnErrorAndStillRemoved) {
  auto o = options();
  o.inline_data_limit = 100;
  server.set_processing(1, "FAILED");
  GoogleLMInvoker invoker(o);
  const auto message =
      failure(invoker, {Message::user({Attachment::from_bytes(qorl_core::Bytes(wav_bytes(500)))})});
  EXPECT_EQ(message, "Gemini could not process the uploaded file files/1");
  EXPECT_TRUE(server.generate_requests().empty());
  EXPECT_EQ(server.removed_files(), std::vector<std::string>{"files/1"});
}

TEST_F(GoogleLMInvokerTest, RetriesRateLimitsAndServerErrors) {
  auto o = options();
  o.retry_config = {2, 0.0};
  GoogleLMInvoker invoker(o);
  server.queue_reply(
      {429,
       FakeGeminiServer::error_body(429, "Resource has been exhausted", "RESOURCE_EXHAUSTED"),
       0ms,
       {{"Retry-After", "0"}}});
  server.queue_reply({500, FakeGeminiServer::error_body(500, "Internal error", "INTERNAL")});
  qorl_testing::LogCapture logs;
  EXPECT_EQ(invoke(invoker, hello()).text, "Hello from the fake model.");
  EXPECT_EQ(server.generate_requests().size(), 3u);
  const auto warnings = logs.messages("GoogleLMInvoker", qorl_core::LogLevel::WARNING);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0].rfind("Gemini generateContent failed (HTTP 429 (Too Many Requests): "
                              "Resource has been exhausted); retrying in ",
                              0),
            0u)
      << warnings[0];
  EXPECT_NE(warnings[1].find("(attempt 3 of 3)"), std::string::npos) << warnings[1];
}

TEST_F(GoogleLMInvokerTest, ARetryDelayPausesEveryInvokerOfTheRun) {
  auto o = options();
  o.retry_config = {2, 0.0};
  o.rate_limits = std::make_shared<clients::http::RateLimiterRegistry>();
  GoogleLMInvoker first(o);
  GoogleLMInvoker second(o);
  server.queue_reply({429, FakeGeminiServer::rate_limited_body("0.3s")});
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(invoke(first, hello()).text, "Hello from the fake model.");
  // The retry waited for the delay the service asked for, though the policy has no back-off.
  EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
  const auto& limiter = o.rate_limits->limiter("Gemini", server.api_key(), "gemini-2.5-flash");
  EXPECT_EQ(limiter.stats().throttled, 1);
  EXPECT_EQ(limiter.stats().granted, 2);
  // Another invoker of the same run, key and model is paced by the same limiter; another model
  // has its own.
  server.queue_reply({429, FakeGeminiServer::rate_limited_body("0.3s")});
  const auto paused = std::chrono::steady_clock::now();
  EXPECT_EQ(invoke(first, hello()).text, "Hello from the fake model.");
  EXPECT_GE(std::chrono::steady_clock::now() - paused, 300ms);
  EXPECT_EQ(invoke(second, hello()).text, "Hello from the fake model.");
  EXPECT_EQ(limiter.stats().granted, 5);
  auto other = o;
  other.model_name = "gemini-2.5-pro";
  GoogleLMInvoker other_model(other);
  invoke(other_model, hello());
  EXPECT_EQ(limiter.stats().granted, 5);
}

TEST_F(GoogleLMInvokerTest, ADailyQuotaIsNotRetriedAndStopsLaterRequestsAtOnce) {
  auto o = options();
  o.retry_config = {3, 0.0};
  o.rate_limits = std::make_shared<clients::http::RateLimiterRegistry>();
  GoogleLMInvoker invoker(o);
  server.set_daily_quota(1);
  invoke(invoker, hello());
  const auto quota_error = [&] {
    try {
      invoke(invoker, hello());
    } catch (const QuotaExhausted& error) {
      return error;
    }
    throw std::logic_error("no QuotaExhausted");
  };
  const QuotaExhausted first = quota_error();
  EXPECT_EQ(first.quota(), "GenerateRequestsPerDayPerProjectPerModel-FreeTier");
  EXPECT_EQ(first.service(), "Gemini");
  EXPECT_EQ(std::string(first.what())
                .rfind("Gemini generateContent failed: quota "
                       "GenerateRequestsPerDayPerProjectPerModel-FreeTier exhausted: You exceeded",
                       0),
            0u)
      << first.what();
  EXPECT_EQ(server.generate_requests().size(), 2u);
  // Refused by the limiter: nothing more is sent, with the same error.
  EXPECT_STREQ(quota_error().what(), first.what());
  EXPECT_EQ(server.generate_requests().size(), 2u);
  // Without a limiter the quota error still comes after one request, not after the retries.
  o.rate_limits.reset();
  GoogleLMInvoker unpaced(o);
  EXPECT_THROW(invoke(unpaced, hello()), QuotaExhausted);
  EXPECT_EQ(server.generate_requests().size(), 3u);
}

TEST_F(GoogleLMInvokerTest, GivesUpWhenRetriesAreSpent) {
  auto o = options();
  o.retry_config = {1, 0.0};
  GoogleLMInvoker invoker(o);
  for (int i = 0; i < 2; ++i) {
    server.queue_reply(
        {503, FakeGeminiServer::error_body(503, "The model is overloaded.", "UNAVAILABLE")});
  }
  EXPECT_EQ(failure(invoker, hello()),
            "Gemini generateContent failed after 2 attempts: HTTP 503 (Service Unavailable): "
            "The model is overloaded.");
  EXPECT_EQ(server.generate_requests().size(), 2u);
}

TEST_F(GoogleLMInvokerTest, TimeoutLimitsEachAttempt) {
  auto o = options();
  o.retry_config = {1, 0.2};
  GoogleLMInvoker slow_limit(o);
  server.queue_reply({200, FakeGeminiServer::answer_body("late"), 1000ms});
  server.queue_reply({200, FakeGeminiServer::answer_body("on time")});
  EXPECT_EQ(invoke(slow_limit, hello()).text, "on time");  // the second attempt is in time
  EXPECT_EQ(server.generate_requests().size(), 2u);

  o.retry_config = {0, 0.0};  // no limit: a slow answer is awaited
  GoogleLMInvoker patient(o);
  server.queue_reply({200, FakeGeminiServer::answer_body("slow"), 400ms});
  EXPECT_EQ(invoke(patient, hello()).text, "slow");

  o.retry_config = {0, 0.2};
  GoogleLMInvoker strict(o);
  server.queue_reply({200, FakeGeminiServer::answer_body("late"), 1000ms});
  EXPECT_EQ(failure(strict, hello()).rfind("Gemini generateContent failed: ", 0), 0u);
}

TEST_F(GoogleLMInvokerTest, ClientErrorsAreNotRetriedAndCarryNoKey) {
  auto o = options();
  o.retry_config = {3, 0.0};
  o.api_key = "wrong-secret-key";
  GoogleLMInvoker invoker(o);
  const auto message = failure(invoker, hello());
  EXPECT_EQ(message,
            "Gemini generateContent failed: HTTP 400 (Bad Request): "
            "API key not valid. Please pass a valid API key.");
  EXPECT_EQ(server.requests().size(), 1u);

  // Even a service that echoes the key does not get it into messages.
  GoogleLMInvoker echoed(options());
  server.queue_reply({400, FakeGeminiServer::error_body(400, "bad value " + server.api_key(),
                                                        "INVALID_ARGUMENT")});
  const auto echoed_message = failure(echoed, hello());
  EXPECT_EQ(echoed_message.find(server.api_key()), std::string::npos) << echoed_message;
  EXPECT_NE(echoed_message.find("bad value ***"), std::string::npos) << echoed_message;

  // The service itself checks the request: a request it refuses is an error too.
  EXPECT_NE(failure(echoed, {Message::system("only a system message")}).find("HTTP 400"),
            std::string::npos);
}

TEST_F(GoogleLMInvokerTest, UnusableAnswers) {
  auto o = options();
  o.response_schema = transcript_schema();
  GoogleLMInvoker invoker(o);
  server.queue_reply({200, "<html>oops</html>"});
  EXPECT_EQ(failure(invoker, hello()), "Gemini generateContent returned an unreadable answer");
  server.queue_reply({200, R"({"promptFeedback": {"blockReason": "SAFETY"}})"});
  EXPECT_EQ(failure(invoker, hello()), "Gemini returned no answer (prompt blocked: SAFETY)");
  server.queue_reply({200, R"({"candidates": [{"finishReason": "MAX_TOKENS"}]})"});
  EXPECT_EQ(failure(invoker, hello()), "Gemini returned no text (finish reason: MAX_TOKENS)");
  server.queue_reply({200, FakeGeminiServer::answer_body(R"({"text": 5})")});
  EXPECT_EQ(failure(invoker, hello()).rfind("The model's answer does not fit Transcript: ", 0), 0u);
}

TEST_F(GoogleLMInvokerTest, NetworkFailuresAreRetriedThenReported) {
  auto o = options();
  o.base_url = "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
  o.retry_config = {1, 0.0};
  GoogleLMInvoker invoker(o);
  const auto message = failure(invoker, hello());
  EXPECT_EQ(message.rfind("Gemini generateContent failed after 2 attempts: ", 0), 0u) << message;
  EXPECT_EQ(message.find(server.api_key()), std::string::npos);
}

TEST_F(GoogleLMInvokerTest, CancellationPropagates) {
  namespace asio = boost::asio;
  auto o = options();
  o.retry_config = {3, 0.0};
  GoogleLMInvoker invoker(o);
  server.queue_reply({200, FakeGeminiServer::answer_body("late"), 1000ms});
  asio::io_context io;
  asio::cancellation_signal signal;
  auto result = asio::co_spawn(io, invoker.invoke(hello()),
                               asio::bind_cancellation_slot(signal.slot(), asio::use_future));
  io.run_for(200ms);
  signal.emit(asio::cancellation_type::terminal);
  io.restart();
  io.run();
  try {
    result.get();
    ADD_FAILURE() << "cancellation was swallowed";
  } catch (const boost::system::system_error& error) {
    EXPECT_EQ(error.code(), asio::error::operation_aborted);
  }
  EXPECT_EQ(server.generate_requests().size(), 1u);  // not retried
}

TEST_F(GoogleLMInvokerTest, KeysAndEndpointFromTheEnvironment) {
  qorl_testing::ScopedEnv env;
  env.set("GOOGLE_GEMINI_BASE_URL", server.base_url() + "/")
      .unset("GEMINI_API_KEY")
      .set("GOOGLE_API_KEY", server.api_key());
  GoogleLMInvokerOptions o;
  o.model_name = "models/gemini-2.5-flash";
  GoogleLMInvoker invoker(o);
  EXPECT_EQ(invoker.base_url(), server.base_url());
  EXPECT_EQ(invoke(invoker, hello()).text, "Hello from the fake model.");
  EXPECT_EQ(server.generate_requests().at(0).path,
            "/v1beta/models/gemini-2.5-flash:generateContent");

  env.set("GEMINI_API_KEY", "preferred-key");
  EXPECT_EQ(failure(*std::make_unique<GoogleLMInvoker>(o), hello()).find("preferred-key"),
            std::string::npos);
  EXPECT_EQ(server.generate_requests().size(), 1u);  // the wrong preferred key was refused

  env.unset("GEMINI_API_KEY").unset("GOOGLE_API_KEY");
  GoogleLMInvoker keyless(o);
  EXPECT_EQ(failure(keyless, hello()),
            "No Gemini API key: pass api_key or set GEMINI_API_KEY or GOOGLE_API_KEY");
  EXPECT_THROW(GoogleLMInvoker(GoogleLMInvokerOptions{}), qorl_core::ValueError);
}

using HostileGemini = GoogleLMInvokerTest;

TEST_F(HostileGemini, DeeplyNestedAnswersAreRefusedNamingTheSender) {
  auto o = options();
  o.response_schema = transcript_schema();
  GoogleLMInvoker invoker(o);
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  server.queue_reply({200, R"({"candidates": )" + deep + "}"});
  EXPECT_EQ(failure(invoker, hello()),
            "Model request failed: Gemini sent JSON nested deeper than 512 levels; refused");
  // The model's own text, read as the structured answer.
  server.queue_reply({200, FakeGeminiServer::answer_body(deep)});
  try {
    invoke(invoker, hello());
    FAIL() << "a deeply nested structured answer was accepted";
  } catch (const clients::common::JsonTooDeep& error) {
    EXPECT_STREQ(error.what(),
                 "The language model sent JSON nested deeper than 512 levels; refused");
  }
}

TEST_F(HostileGemini, KeysThatCouldSplitHeadersAreRefusedBeforeAnyRequest) {
  auto o = options();
  o.api_key = "gemini-secret\r\nX-Injected: 1";
  try {
    GoogleLMInvoker invoker(o);
    invoke(invoker, hello());
    FAIL() << "a key with a line break was sent";
  } catch (const clients::common::InvalidCredential& error) {
    EXPECT_EQ(std::string(error.what()).find("gemini-secret"), std::string::npos);
  }
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace qorl_inference
