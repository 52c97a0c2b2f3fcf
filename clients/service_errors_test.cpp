#include "clients/common/service_error.hpp"

#include <gtest/gtest.h>

#include <type_traits>

#include "clients/aws/s3.hpp"
#include "clients/ffmpeg/ffmpeg.hpp"
#include "clients/google/rest.hpp"
#include "clients/google/speech.hpp"
#include "clients/http/http.hpp"
#include "clients/openai/errors.hpp"
#include "clients/openai/rest_stub.hpp"
#include "clients/process/process.hpp"
#include "clients/youtube/transcript_errors.hpp"
#include "clients/youtube/yt_dlp.hpp"

namespace clients {
namespace {

static_assert(std::is_base_of_v<ServiceError, http::Error>);
static_assert(std::is_base_of_v<ServiceError, google::Error>);
static_assert(std::is_base_of_v<ServiceError, openai::OpenAIError>);
static_assert(std::is_base_of_v<ServiceError, aws::Error>);
static_assert(std::is_base_of_v<ServiceError, process::ProcessError>);
static_assert(std::is_base_of_v<ServiceError, ffmpeg::FfmpegError>);
static_assert(std::is_base_of_v<ServiceError, youtube::DownloadError>);
static_assert(std::is_base_of_v<ServiceError, youtube::CouldNotRetrieveTranscript>);

http::Response answer(long status, std::string body) {
  http::Response response;
  response.status = status;
  response.reason = "Reason";
  response.body = std::move(body);
  return response;
}

void expect_failure(const ServiceError& error, const std::string& service,
                    std::optional<long> status, const std::string& code, bool retryable) {
  SCOPED_TRACE(error.what());
  EXPECT_EQ(error.service(), service);
  EXPECT_EQ(error.http_status(), status);
  EXPECT_EQ(error.code(), code);
  EXPECT_EQ(error.retryable(), retryable);
}

TEST(ServiceErrorTest, TransferFailuresAreRetryableWhenTheNetworkFailed) {
  expect_failure(http::Error("refused", http::Error::Kind::kConnect), "HTTP", std::nullopt,
                 "connect", true);
  expect_failure(http::Error("slow", http::Error::Kind::kTimeout), "HTTP", std::nullopt, "timeout",
                 true);
  expect_failure(http::Error("reset", http::Error::Kind::kTransfer), "HTTP", std::nullopt,
                 "transfer", true);
  expect_failure(http::Error("big", http::Error::Kind::kTooLarge), "HTTP", std::nullopt,
                 "too_large", false);
  expect_failure(http::Error("bad URL"), "HTTP", std::nullopt, "other", false);
}

TEST(ServiceErrorTest, ErrorAnswersCarryTheirStatusAndTheServicesCode) {
  const auto google_error = [](long status, const std::string& body) {
    return google::internal::call_error(answer(status, body), "GET", "https://example/x");
  };
  const google::HttpError unavailable =
      google_error(503, R"({"error": {"code": 503, "message": "later", "status": "UNAVAILABLE"}})");
  expect_failure(unavailable, "Google", 503, "UNAVAILABLE", true);
  EXPECT_STREQ(unavailable.what(), "503 GET https://example/x: later");
  expect_failure(google_error(404, "not json"), "Google", 404, "", false);

  expect_failure(aws::S3Error(503, "SlowDown", "Reduce your request rate."), "S3", 503, "SlowDown",
                 true);
  expect_failure(aws::S3Error(403, "AccessDenied", "Access Denied"), "S3", 403, "AccessDenied",
                 false);

  try {
    openai::internal::to_transcription(
        answer(429, R"({"error": {"message": "Slow down", "type": "requests", "code": null}})"),
        std::nullopt);
    FAIL() << "no error";
  } catch (const openai::RateLimitError& error) {
    expect_failure(error, "OpenAI", 429, "requests", true);
    EXPECT_STREQ(error.what(), "Error code: 429 - Slow down");
  }
  try {
    openai::internal::to_transcription(
        answer(400, R"({"error": {"message": "No", "code": "bad_file"}})"), std::nullopt);
    FAIL() << "no error";
  } catch (const openai::BadRequestError& error) {
    expect_failure(error, "OpenAI", 400, "bad_file", false);
  }
}

TEST(ServiceErrorTest, FailuresWithoutAnAnswerNameTheirServiceOrProgram) {
  expect_failure(google::OperationError({14, "try again"}), "Speech-to-Text", std::nullopt, "14",
                 true);
  expect_failure(google::OperationError({3, "bad audio"}), "Speech-to-Text", std::nullopt, "3",
                 false);
  expect_failure(youtube::IpBlocked("abc", 429), "YouTube", 429, "", true);
  expect_failure(youtube::VideoUnavailable("abc"), "YouTube", std::nullopt, "", false);
  expect_failure(youtube::DownloadError("ERROR: gone"), "yt-dlp", std::nullopt, "", false);
  expect_failure(ffmpeg::FfmpegError("bad stream"), "ffmpeg", std::nullopt, "", false);
  expect_failure(process::ProcessTimeout("too slow", "yt-dlp"), "yt-dlp", std::nullopt, "timeout",
                 false);
}

TEST(ServiceErrorTest, TheFailureIsFoundThroughNestedCauses) {
  try {
    try {
      throw aws::S3Error(500, "InternalError", "We encountered an internal error.");
    } catch (...) {
      std::throw_with_nested(std::invalid_argument("Unsupported audio source"));
    }
  } catch (const std::exception& error) {
    const auto failure = service_failure(error);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->service, "S3");
    EXPECT_EQ(failure->http_status, 500);
    EXPECT_TRUE(failure->retryable);
  }
  EXPECT_EQ(service_failure(std::runtime_error("local")), std::nullopt);
}

}  // namespace
}  // namespace clients
