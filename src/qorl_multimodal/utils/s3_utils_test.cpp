#include "qorl_multimodal/utils/s3_utils.hpp"

#include <gtest/gtest.h>

#include "qorl_core/run_sync.hpp"
#include "testing/canned_server.hpp"
#include "testing/fake_s3.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/log_capture.hpp"
#include "testing/s3rver.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::s3_utils {
namespace {

using qorl_core::run_sync;

const std::string LOGGER = "qorl_multimodal.utils.s3_utils";
const std::string CREDENTIALS_ERROR =
    "Failed to get file from S3: AWS credentials not found or invalid. Please ensure valid "
    "credentials are available through environment variables (AWS_ACCESS_KEY_ID, "
    "AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN) or default credential providers.";

using Parsed = std::pair<std::optional<std::string>, std::optional<std::string>>;

TEST(ParseS3UrlTest, S3LocationsAndVirtualHostedUrls) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(_parse_s3_url("s3://my-bucket/a/b.png"), (Parsed{"my-bucket", "a/b.png"}));
  EXPECT_EQ(_parse_s3_url("s3:///x"), (Parsed{"", "x"}));
  EXPECT_EQ(_parse_s3_url("s3://bucket/"), (Parsed{"bucket", ""}));
  EXPECT_EQ(_parse_s3_url("s3://bucket//deep//k?v=1"), (Parsed{"bucket", "deep//k"}));
  EXPECT_EQ(_parse_s3_url("https://photos.s3.eu-west-1.amazonaws.com//dir/cat%20x.png?x=1"),
            (Parsed{"photos", "dir/cat%20x.png"}));
  // Path-style on the service host: the service label is taken as the bucket.
  EXPECT_EQ(_parse_s3_url("https://s3.amazonaws.com/bucket/k"), (Parsed{"s3", "bucket/k"}));
  EXPECT_TRUE(capture.messages().empty());

  for (const std::string& rejected : std::vector<std::string>{
           "https://photos.s3.amazonaws.com:443/a.png", "https://photos.s3.AMAZONAWS.com/a.png",
           "S3://b/k", "not a url at all"}) {
    EXPECT_EQ(_parse_s3_url(rejected), (Parsed{std::nullopt, std::nullopt}));
    EXPECT_EQ(capture.messages(LOGGER),
              std::vector<std::string>{"Not a valid S3 URL: " + rejected});
    capture.clear();
  }
}

TEST(GetFileFromS3Test, BadLocationsEndInNoneWithTheirLogLines) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_file_from_s3("")), std::nullopt);
  EXPECT_TRUE(capture.messages().empty());
  for (const std::string& url :
       std::vector<std::string>{"s3:///x", "s3://bucket", "s3://bucket/"}) {
    EXPECT_EQ(run_sync(get_file_from_s3(url)), std::nullopt);
    EXPECT_EQ(capture.messages(LOGGER), std::vector<std::string>{"Invalid S3 URL format: " + url});
    capture.clear();
  }
  EXPECT_EQ(run_sync(get_file_from_s3("photo.png")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER),
            (std::vector<std::string>{"Not a valid S3 URL: photo.png",
                                      "Invalid S3 URL format: photo.png"}));
}

// S3 itself failing, behind a proxy that fails requests on cue.
TEST(GetFileFromS3Test, ServiceFailuresAreNotReportedAsCredentialProblems) {
  qorl_testing::FakeS3 s3("AKID", "secret");
  s3.put("bucket", "k", "bytes");
  qorl_testing::FaultProxy proxy(s3.endpoint());
  qorl_testing::TempDir files;
  qorl_testing::ScopedEnv env;
  env.set("AWS_ENDPOINT_URL_S3", proxy.url())
      .set("AWS_REGION", "us-east-1")
      .set("AWS_ACCESS_KEY_ID", "AKID")
      .set("AWS_SECRET_ACCESS_KEY", "secret")
      .set("AWS_SHARED_CREDENTIALS_FILE", (files.path() / "credentials").string())
      .set("AWS_CONFIG_FILE", (files.path() / "config").string())
      .set("AWS_EC2_METADATA_DISABLED", "true");
  clients::http::CallPolicy policy = qorl_testing::policy_without_delays();
  policy.max_download_bytes = 1 << 20;
  qorl_testing::ScopedCallPolicy scoped(policy);
  qorl_testing::LogCapture capture;

  proxy.inject(qorl_testing::Fault::answer(503));
  proxy.inject(qorl_testing::Fault::answer(429, {{"Retry-After", "1"}}));
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k"))->str(), "bytes");
  EXPECT_TRUE(capture.messages(LOGGER).empty());

  proxy.inject(qorl_testing::Fault::answer(500), "", 4);
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k")), std::nullopt);
  EXPECT_EQ(
      capture.messages(LOGGER),
      std::vector<std::string>{
          "Failed to get file from S3: S3 GetObject failed: HTTP 500: Internal Server Error"});
  capture.clear();
  proxy.inject(qorl_testing::Fault::endless_body());
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER),
            std::vector<std::string>{"Failed to get file from S3: The answer from " +
                                     proxy.url("/bucket/k") +
                                     " is larger than the limit of 1048576 bytes"});
}

// Every attempt of the credential fallback meets the same refusal.
class HostileS3 : public ::testing::Test {
 protected:
  void use_endpoint(const std::string& endpoint) {
    env_.set("AWS_ENDPOINT_URL_S3", endpoint)
        .set("AWS_REGION", "us-east-1")
        .set("AWS_ACCESS_KEY_ID", "AKID")
        .set("AWS_SECRET_ACCESS_KEY", "secret")
        .unset("AWS_SESSION_TOKEN")
        .set("AWS_SHARED_CREDENTIALS_FILE", (files_.path() / "credentials").string())
        .set("AWS_CONFIG_FILE", (files_.path() / "config").string())
        .set("AWS_EC2_METADATA_DISABLED", "true");
  }
  // The error line of a download that fails.
  std::vector<std::string> failure(const std::string& url) {
    qorl_testing::LogCapture capture;
    EXPECT_EQ(run_sync(get_file_from_s3(url)), std::nullopt);
    return capture.messages(LOGGER, qorl_core::LogLevel::ERROR);
  }
  qorl_testing::TempDir files_;
  qorl_testing::ScopedEnv env_;
  qorl_testing::ScopedCallPolicy policy_;
};

TEST_F(HostileS3, RefusalsAreReportedInS3sWordsAndOnlyKeyProblemsAsCredentials) {
  qorl_testing::FakeS3 s3("AKID", "secret");
  s3.put("bucket", "present.png", "x");
  use_endpoint(s3.endpoint());
  EXPECT_EQ(failure("s3://bucket/absent.png"),
            std::vector<std::string>{"Failed to get file from S3: S3 GetObject failed: HTTP 404 "
                                     "NoSuchKey: The specified key does not exist."});
  env_.set("AWS_SECRET_ACCESS_KEY", "not-the-secret");
  EXPECT_EQ(failure("s3://bucket/absent.png"), std::vector<std::string>{CREDENTIALS_ERROR});

  const qorl_testing::CannedServer denied(
      {403, "<Error><Code>AccessDenied</Code><Message>Access Denied</Message></Error>"});
  use_endpoint(denied.url());
  EXPECT_EQ(failure("s3://bucket/k"),
            std::vector<std::string>{
                "Failed to get file from S3: S3 GetObject failed: HTTP 403 AccessDenied: Access "
                "Denied"});
  const qorl_testing::CannedServer moved({302, "", {}, {{"Location", "http://127.0.0.1:1/x"}}});
  use_endpoint(moved.url());
  EXPECT_EQ(failure("s3://bucket/k"),
            std::vector<std::string>{
                "Failed to get file from S3: S3 GetObject failed: HTTP 302: Found (S3 redirected "
                "the request: the bucket is in another region, or the endpoint is wrong)"});
}

TEST_F(HostileS3, KeysThatCouldSplitHeadersAreRefusedBeforeAnyRequest) {
  qorl_testing::FakeS3 s3("AKID", "secret");
  qorl_testing::FaultProxy counting(s3.endpoint());
  use_endpoint(counting.url());
  env_.set("AWS_SESSION_TOKEN", "aws-secret-token\r\nX-Injected: 1");
  const auto lines = failure("s3://bucket/k");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "Failed to get file from S3: The AWS session token contains a control character "
            "(such as a line break); refused");
  EXPECT_EQ(counting.requests(), 0);
}

class S3rverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qorl_testing::S3rver::node_available()) GTEST_SKIP() << "node is not installed";
    s3rver_.emplace(std::vector<std::string>{"bucket"});
    for (const char* name :
         {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN", "AWS_SECURITY_TOKEN",
          "AWS_PROFILE", "AWS_DEFAULT_PROFILE", "AWS_ENDPOINT_URL",
          "AWS_CONTAINER_CREDENTIALS_RELATIVE_URI", "AWS_CONTAINER_CREDENTIALS_FULL_URI"}) {
      env_.unset(name);
    }
    env_.set("AWS_ENDPOINT_URL_S3", s3rver_->endpoint())
        .set("AWS_REGION", "us-east-1")
        .set("AWS_SHARED_CREDENTIALS_FILE", (files_.path() / "credentials").string())
        .set("AWS_CONFIG_FILE", (files_.path() / "config").string())
        .set("AWS_EC2_METADATA_DISABLED", "true");
  }

  qorl_testing::TempDir files_;
  qorl_testing::ScopedEnv env_;
  std::optional<qorl_testing::S3rver> s3rver_;
};

TEST_F(S3rverTest, ObjectBytesComeBackExactly) {
  std::string content;
  for (int i = 0; i < 70000; ++i) content.push_back(static_cast<char>(i % 251));
  s3rver_->put("bucket", "dir/photo 1.png", content);
  env_.set("AWS_ACCESS_KEY_ID", "S3RVER").set("AWS_SECRET_ACCESS_KEY", "S3RVER");
  qorl_testing::LogCapture capture;
  const auto bytes = run_sync(get_file_from_s3("s3://bucket/dir/photo 1.png"));
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->str(), content);
  EXPECT_TRUE(capture.messages().empty());
}

TEST_F(S3rverTest, SharedCredentialsProfileIsTheDefaultChain) {
  s3rver_->put("bucket", "k", "from profile");
  files_.write("credentials", "[ci]\naws_access_key_id = S3RVER\naws_secret_access_key = S3RVER\n");
  env_.set("AWS_PROFILE", "ci");
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k"))->str(), "from profile");
}

TEST_F(S3rverTest, MissingObjectFailsEveryAttempt) {
  env_.set("AWS_ACCESS_KEY_ID", "S3RVER").set("AWS_SECRET_ACCESS_KEY", "S3RVER");
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/absent.png")), std::nullopt);
  const std::string missing =
      "Failed to get file from S3: S3 GetObject failed: HTTP 404 NoSuchKey: The specified key "
      "does not exist.";
  EXPECT_EQ(
      capture.messages(LOGGER),
      (std::vector<std::string>{"Failed to connect with default credentials",
                                "Failed to connect with access key and secret key", missing}));
  EXPECT_EQ(capture.messages(LOGGER, qorl_core::LogLevel::ERROR),
            std::vector<std::string>{missing});
}

TEST_F(S3rverTest, WrongAccessKeyTriesTheSessionTokenLast) {
  s3rver_->put("bucket", "k", "x");
  env_.set("AWS_ACCESS_KEY_ID", "WRONG")
      .set("AWS_SECRET_ACCESS_KEY", "S3RVER")
      .set("AWS_SESSION_TOKEN", "token");
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER),
            (std::vector<std::string>{"Failed to connect with default credentials",
                                      "Failed to connect with access key and secret key",
                                      "Failed to connect with session token", CREDENTIALS_ERROR}));
}

TEST_F(S3rverTest, NoCredentialsAndATokenAloneAreNeverTried) {
  qorl_testing::LogCapture capture;
  const std::vector<std::string> expected{"Failed to connect with default credentials",
                                          CREDENTIALS_ERROR};
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER), expected);
  capture.clear();
  env_.set("AWS_SESSION_TOKEN", "token");
  EXPECT_EQ(run_sync(get_file_from_s3("s3://bucket/k")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER), expected);
}

}  // namespace
}  // namespace qorl_multimodal::utils::s3_utils
