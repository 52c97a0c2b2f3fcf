#include "clients/http/rate_signals.hpp"

#include <gtest/gtest.h>

#include "testing/fake_gemini_server.hpp"

namespace clients::http {
namespace {

using namespace std::chrono_literals;
using qorl_testing::FakeGeminiServer;

Response answer(long status, std::string body = "", Headers headers = {}) {
  Response response;
  response.status = status;
  response.body = std::move(body);
  response.headers = std::move(headers);
  return response;
}

RateSignal read(const Response& response) {
  return read_rate_signal(response, std::chrono::system_clock::now());
}

TEST(ParseDuration, ReadsProtobufAndGoStyleDurations) {
  EXPECT_EQ(parse_duration("26s"), 26000ms);
  EXPECT_EQ(parse_duration("0.5s"), 500ms);
  EXPECT_EQ(parse_duration("20ms"), 20ms);
  EXPECT_EQ(parse_duration("6m0s"), 360000ms);
  EXPECT_EQ(parse_duration("1h2m3.5s"), 3723500ms);
  EXPECT_EQ(parse_duration(""), std::nullopt);
  EXPECT_EQ(parse_duration("soon"), std::nullopt);
  EXPECT_EQ(parse_duration("5"), std::nullopt);
  EXPECT_EQ(parse_duration("-1s"), std::nullopt);
}

TEST(ReadRateSignal, GeminiPerMinuteQuotaAsksForItsRetryDelay) {
  const auto signal = read(answer(429, FakeGeminiServer::rate_limited_body("2.5s")));
  EXPECT_TRUE(signal.throttled);
  EXPECT_EQ(signal.wait, 2500ms);
  EXPECT_FALSE(signal.exhausted);
}

TEST(ReadRateSignal, GeminiPerDayQuotaIsExhaustion) {
  const auto signal = read(answer(429, FakeGeminiServer::daily_quota_body()));
  ASSERT_TRUE(signal.exhausted);
  EXPECT_EQ(signal.exhausted->quota, "GenerateRequestsPerDayPerProjectPerModel-FreeTier");
  EXPECT_NE(signal.exhausted->message.find("exceeded your current quota"), std::string::npos);
}

TEST(ReadRateSignal, OpenAIInsufficientQuotaIsExhaustion) {
  const auto signal = read(answer(429, R"({"error":{"message":"You exceeded your current quota.",
      "type":"insufficient_quota","param":null,"code":"insufficient_quota"}})"));
  ASSERT_TRUE(signal.exhausted);
  EXPECT_EQ(signal.exhausted->quota, "insufficient_quota");
  EXPECT_EQ(signal.exhausted->message, "You exceeded your current quota.");
}

TEST(ReadRateSignal, OpenAISpentRequestBudgetWaitsForItsReset) {
  const auto spent = read(
      answer(200, "{}",
             {{"x-ratelimit-remaining-requests", "0"}, {"x-ratelimit-reset-requests", "6m0s"}}));
  EXPECT_FALSE(spent.throttled);
  EXPECT_EQ(spent.wait, 360000ms);
  const auto left = read(answer(
      200, "{}", {{"x-ratelimit-remaining-requests", "12"}, {"x-ratelimit-reset-requests", "1s"}}));
  EXPECT_EQ(left.wait, std::nullopt);
}

TEST(ReadRateSignal, RetryAfterOfA429AndTheLongestOfSeveralWaits) {
  EXPECT_EQ(read(answer(429, "", {{"Retry-After", "3"}})).wait, 3000ms);
  EXPECT_EQ(
      read(answer(429, FakeGeminiServer::rate_limited_body("1s"), {{"Retry-After", "4"}})).wait,
      4000ms);
  // A successful answer's Retry-After means nothing.
  EXPECT_EQ(read(answer(200, "", {{"Retry-After", "3"}})).wait, std::nullopt);
  // Bodies that are no JSON, or a list, are read without a signal.
  EXPECT_FALSE(read(answer(429, "<html>busy</html>")).exhausted);
  EXPECT_TRUE(read(answer(429, "[" + FakeGeminiServer::daily_quota_body() + "]")).exhausted);
}

}  // namespace
}  // namespace clients::http
