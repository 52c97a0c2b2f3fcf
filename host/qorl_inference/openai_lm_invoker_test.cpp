#include "qorl_inference/openai_lm_invoker.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/exceptions.hpp"
#include "testing/fake_chat_completions_server.hpp"
#include "testing/scoped_env.hpp"

namespace qorl_inference {
namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

const std::string kPng("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0", 29);
const std::string kWav(
    "RIFF\x24\0\0\0WAVEfmt "
    "\x10\0\0\0\x01\0\x01\0\x44\xac\0\0\x88\x58\x01\0\x02\0\x10\0data\0\0\0\0",
    44);

struct Caption : qorl_core::Record<Caption> {
  std::vector<std::string> captions;
  static const qorl_core::Schema<Caption>& schema() {
    static const qorl_core::Schema<Caption> s{
        "Caption", {qorl_core::field("captions", &Caption::captions).required()}};
    return s;
  }
};

OpenAILMInvokerOptions options(const qorl_testing::FakeChatCompletionsServer& server) {
  OpenAILMInvokerOptions o;
  o.model_name = "qwen2.5-vl";
  o.base_url = server.base_url();
  o.retry_config = {0, 0.0};
  o.backoff = {1ms, 5ms};
  return o;
}

LMResponse invoke(OpenAILMInvoker& invoker, std::vector<Message> messages) {
  return qorl_core::run_sync(invoker.invoke(std::move(messages)));
}

TEST(OpenAILMInvokerTest, SendsChatCompletionsWithAttachmentsAndSchema) {
  qorl_testing::FakeChatCompletionsServer server("sk-test");
  auto o = options(server);
  o.api_key = "sk-test";
  o.response_schema = ResponseSchema::of<Caption>(
      json_schema::object({{"captions", json_schema::array(json_schema::text())}}));
  OpenAILMInvoker invoker(o);
  server.set_answer_text(R"({"captions": ["a cat"]})");
  auto image = Attachment::from_bytes(qorl_core::Bytes(kPng));
  auto audio = Attachment::from_bytes(qorl_core::Bytes(kWav));
  auto document = Attachment::from_bytes(qorl_core::Bytes(std::string("notes\n")), "notes.txt");
  auto linked = Attachment::from_url("https://media.example.test/photo.jpg");

  const auto response = invoke(
      invoker, {Message::system("Be brief."),
                Message::user({image, audio, document, linked, std::string("Caption it.")})});
  EXPECT_EQ(response.structured_output_as<Caption>()->captions, std::vector<std::string>{"a cat"});

  const auto sent = server.requests();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].path, "/v1/chat/completions");
  EXPECT_EQ(sent[0].header("Authorization"), "Bearer sk-test");
  const auto body = json::parse(sent[0].body);
  EXPECT_EQ(body["model"], "qwen2.5-vl");
  EXPECT_EQ(body["messages"][0], json::parse(R"({"role": "system", "content": "Be brief."})"));
  const auto& parts = body["messages"][1]["content"];
  ASSERT_EQ(parts.size(), 5u);
  EXPECT_EQ(parts[0]["image_url"]["url"],
            "data:image/png;base64," + qorl_core::base64_encode(kPng));
  EXPECT_EQ(parts[1]["input_audio"],
            (json{{"data", qorl_core::base64_encode(kWav)}, {"format", "wav"}}));
  EXPECT_EQ(parts[2]["file"]["filename"], "notes.txt");
  EXPECT_EQ(parts[3]["image_url"]["url"], "https://media.example.test/photo.jpg");
  EXPECT_EQ(parts[4], json::parse(R"({"type": "text", "text": "Caption it."})"));
  EXPECT_EQ(body["response_format"], json::parse(R"({"type": "json_schema", "json_schema": {
      "name": "Caption",
      "schema": {"type": "object",
                 "properties": {"captions": {"type": "array", "items": {"type": "string"}}},
                 "required": ["captions"], "additionalProperties": false}}})"));
}

TEST(OpenAILMInvokerTest, SelfHostedServersWithoutKeyAndFailures) {
  qorl_testing::FakeChatCompletionsServer server;
  qorl_testing::ScopedEnv env;
  env.unset("OPENAI_API_KEY").set("OPENAI_BASE_URL", server.base_url());
  OpenAILMInvokerOptions o;
  o.model_name = "llama3";
  o.backoff = {1ms, 5ms};
  o.retry_config = {1, 0.0};
  OpenAILMInvoker invoker(o);
  EXPECT_EQ(invoke(invoker, {Message::user({std::string("Hi")})}).text,
            "Hello from the fake chat model.");
  EXPECT_EQ(server.requests()[0].header("Authorization"), "");

  server.queue_reply({502, "Bad gateway"});
  EXPECT_EQ(invoke(invoker, {Message::user({std::string("Hi")})}).text,
            "Hello from the fake chat model.");

  try {
    invoke(invoker, {Message::user({Attachment::from_url("https://media.example.test/clip.mp4")})});
    FAIL() << "no error";
  } catch (const BaseInvokerError& error) {
    EXPECT_STREQ(error.what(),
                 "OpenAI chat completions take links to images only, not 'clip.mp4' (video/mp4)");
  }
  server.queue_reply({200, R"({"choices": [{"message": {"role": "assistant", "content": null,
                                "refusal": "I can't help with that."}}]})"});
  try {
    invoke(invoker, {Message::user({std::string("Hi")})});
    FAIL() << "no error";
  } catch (const BaseInvokerError& error) {
    EXPECT_STREQ(error.what(), "The model refused: I can't help with that.");
  }
}

TEST(OpenAILMInvokerTest, WrongKeyIsAnErrorWithoutTheKey) {
  qorl_testing::FakeChatCompletionsServer server("sk-right");
  auto o = options(server);
  o.api_key = "sk-wrong-secret";
  o.retry_config = {2, 0.0};
  OpenAILMInvoker invoker(o);
  try {
    invoke(invoker, {Message::user({std::string("Hi")})});
    FAIL() << "no error";
  } catch (const BaseInvokerError& error) {
    EXPECT_STREQ(error.what(),
                 "OpenAI chat completions request failed: HTTP 401 (Unauthorized): "
                 "Incorrect API key provided.");
  }
  EXPECT_EQ(server.requests().size(), 1u);  // not retried
}

TEST(OpenAILMInvokerTest, ASpentRequestBudgetPausesTheRunUntilItsReset) {
  qorl_testing::FakeChatCompletionsServer server("sk-test");
  auto o = options(server);
  o.api_key = "sk-test";
  o.rate_limits = std::make_shared<clients::http::RateLimiterRegistry>();
  OpenAILMInvoker invoker(o);
  server.queue_reply(
      {200,
       R"({"choices":[{"message":{"role":"assistant","content":"one"}}]})",
       0ms,
       {{"x-ratelimit-remaining-requests", "0"}, {"x-ratelimit-reset-requests", "300ms"}}});
  const auto answered = std::chrono::steady_clock::now();
  EXPECT_EQ(invoke(invoker, {Message::user({std::string("Hi")})}).text, "one");
  invoke(invoker, {Message::user({std::string("Hi")})});
  EXPECT_GE(std::chrono::steady_clock::now() - answered, 300ms);
}

TEST(OpenAILMInvokerTest, InsufficientQuotaIsNotRetried) {
  qorl_testing::FakeChatCompletionsServer server("sk-test");
  auto o = options(server);
  o.api_key = "sk-test";
  o.retry_config = {3, 0.0};
  OpenAILMInvoker invoker(o);
  server.queue_reply({429, R"({"error":{"message":"You exceeded your current quota.",
      "type":"insufficient_quota","param":null,"code":"insufficient_quota"}})"});
  try {
    invoke(invoker, {Message::user({std::string("Hi")})});
    ADD_FAILURE() << "no QuotaExhausted";
  } catch (const QuotaExhausted& error) {
    EXPECT_EQ(error.quota(), "insufficient_quota");
    EXPECT_EQ(std::string(error.what()),
              "OpenAI chat completions request failed: quota insufficient_quota exhausted: You "
              "exceeded your current quota.");
  }
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace qorl_inference
