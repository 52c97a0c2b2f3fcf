#include "clients/aws/s3.hpp"

#include <gtest/gtest.h>

#include "clients/common/run_sync.hpp"
#include "testing/canned_server.hpp"
#include "testing/fake_s3.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/http_server.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace clients::aws {
namespace {

using common::run_sync;
using qorl_testing::Fault;
using namespace std::chrono_literals;

std::shared_ptr<CredentialsProvider> keys(std::string id, std::string secret,
                                          std::string token = "") {
  return std::make_shared<StaticCredentialsProvider>(
      Credentials{std::move(id), std::move(secret), std::move(token), std::nullopt});
}

S3Client client_for(const std::string& endpoint, std::shared_ptr<CredentialsProvider> credentials,
                    std::optional<std::string> region = "us-east-1") {
  S3ClientOptions options;
  options.region = std::move(region);
  options.endpoint_url = endpoint;
  options.credentials = std::move(credentials);
  return S3Client(std::move(options));
}

TEST(S3ClientTest, SignedGetObjectIsVerifiedByTheServer) {
  qorl_testing::FakeS3 s3("AKID", "secret");
  const std::string content("\x89PNG\r\n\x1a\n\0\xff bytes", 17);
  s3.put("photos", "dir/a b+c.png", content);

  const S3Client good = client_for(s3.endpoint(), keys("AKID", "secret"));
  EXPECT_EQ(run_sync(good.get_object({"photos", "dir/a b+c.png"})).body, content);
  // A session token is sent and signed too.
  const S3Client with_token = client_for(s3.endpoint() + "/", keys("AKID", "secret", "TOKEN"));
  EXPECT_EQ(run_sync(with_token.get_object({"photos", "dir/a b+c.png"})).body, content);

  const S3Client wrong_secret = client_for(s3.endpoint(), keys("AKID", "not-the-secret"));
  try {
    run_sync(wrong_secret.get_object({"photos", "dir/a b+c.png"}));
    FAIL() << "a wrong secret was accepted";
  } catch (const S3Error& e) {
    EXPECT_EQ(e.status(), 403);
    EXPECT_EQ(e.code(), "SignatureDoesNotMatch");
    EXPECT_TRUE(e.is_credentials_problem());
    EXPECT_EQ(std::string(e.what()).find("not-the-secret"), std::string::npos);
  }
  try {
    run_sync(good.get_object({"photos", "missing.png"}));
    FAIL();
  } catch (const S3Error& e) {
    EXPECT_STREQ(e.what(),
                 "S3 GetObject failed: HTTP 404 NoSuchKey: The specified key does not exist.");
    EXPECT_FALSE(e.is_credentials_problem());
  }
}

TEST(S3ClientTest, FollowsTheBucketRegionRedirectOnce) {
  qorl_testing::FakeS3 s3("AKID", "secret", "eu-west-1");
  s3.put("b", "k", "data");
  qorl_testing::ScopedEnv env;
  env.unset("AWS_REGION").unset("AWS_DEFAULT_REGION").set("AWS_CONFIG_FILE", "/nonexistent");
  const S3Client client = client_for(s3.endpoint(), keys("AKID", "secret"), std::nullopt);
  EXPECT_EQ(run_sync(client.get_object({"b", "k"})).body, "data");
  EXPECT_EQ(s3.signing_regions(), (std::vector<std::string>{"us-east-1", "eu-west-1"}));
}

TEST(S3ClientTest, EndpointAndCredentialsComeFromTheEnvironment) {
  qorl_testing::FakeS3 s3("ENVKEY", "envsecret");
  s3.put("b", "k", "data");
  qorl_testing::ScopedEnv env;
  env.set("AWS_ENDPOINT_URL_S3", s3.endpoint())
      .set("AWS_ACCESS_KEY_ID", "ENVKEY")
      .set("AWS_SECRET_ACCESS_KEY", "envsecret")
      .unset("AWS_SESSION_TOKEN")
      .set("AWS_REGION", "us-east-1");
  EXPECT_EQ(run_sync(S3Client().get_object({"b", "k"})).body, "data");
  env.unset("AWS_ACCESS_KEY_ID")
      .set("AWS_SHARED_CREDENTIALS_FILE", "/nonexistent")
      .set("AWS_CONFIG_FILE", "/nonexistent")
      .set("AWS_EC2_METADATA_DISABLED", "true")
      .unset("AWS_CONTAINER_CREDENTIALS_RELATIVE_URI")
      .unset("AWS_CONTAINER_CREDENTIALS_FULL_URI");
  EXPECT_THROW(run_sync(S3Client().get_object({"b", "k"})), NoCredentialsError);
}

TEST(S3ClientTest, FailedExchangesAreRetriedAndBodiesCapped) {
  qorl_testing::FakeS3 s3("AKID", "secret");
  s3.put("b", "k", "data");
  qorl_testing::FaultProxy proxy(s3.endpoint());
  S3ClientOptions options;
  options.region = "us-east-1";
  options.endpoint_url = proxy.url();
  options.credentials = keys("AKID", "secret");
  options.policy = qorl_testing::policy_without_delays();
  options.policy.max_download_bytes = 1 << 20;
  const S3Client client(options);

  proxy.inject(Fault::answer(503));
  proxy.inject(Fault::answer(429, {{"Retry-After", "5"}}));
  proxy.inject(Fault::answer(429, {{"Retry-After", "Wed, 21 Oct 2099 07:28:00 GMT"}}));
  EXPECT_EQ(run_sync(client.get_object({"b", "k"})).body, "data");
  EXPECT_EQ(proxy.requests(), 4);

  // A server that keeps failing is reported as S3's answer, not as missing credentials.
  proxy.inject(Fault::answer(500), "", 4);
  try {
    run_sync(client.get_object({"b", "k"}));
    FAIL() << "no error";
  } catch (const S3Error& e) {
    EXPECT_EQ(e.status(), 500);
  }

  proxy.inject(Fault::endless_body());
  try {
    run_sync(client.get_object({"b", "k"}));
    FAIL() << "an endless body was accepted";
  } catch (const http::Error& e) {
    EXPECT_EQ(e.kind(), http::Error::Kind::kTooLarge);
    EXPECT_STREQ(e.what(), ("The answer from " + proxy.url("/b/k") +
                            " is larger than the limit of 1048576 bytes")
                               .c_str());
  }

  options.policy.retry.deadline = 300ms;
  proxy.inject(Fault::hang(), "", 4);
  EXPECT_THROW(run_sync(S3Client(options).get_object({"b", "k"})), http::Error);
}

// Container credentials and the instance metadata service, both on loopback.
TEST(CredentialSourcesTest, ContainerAndInstanceMetadataEndpoints) {
  const std::string document =
      R"({"AccessKeyId": "ASIA1", "SecretAccessKey": "s1", "Token": "t1", "Expiration": "2099-01-01T00:00:00Z"})";
  qorl_testing::HttpServer server;
  std::vector<std::string> seen;
  auto& http = server.server();
  http.Get("/creds", [&](const httplib::Request& q, httplib::Response& r) {
    seen.push_back("container " + q.get_header_value("Authorization"));
    r.set_content(document, "application/json");
  });
  http.Put("/latest/api/token", [&](const httplib::Request& q, httplib::Response& r) {
    seen.push_back("token ttl " + q.get_header_value("x-aws-ec2-metadata-token-ttl-seconds"));
    r.set_content("imds-token", "text/plain");
  });
  http.Get("/latest/meta-data/iam/security-credentials/",
           [&](const httplib::Request& q, httplib::Response& r) {
             seen.push_back("roles " + q.get_header_value("x-aws-ec2-metadata-token"));
             r.set_content("my-role", "text/plain");
           });
  http.Get("/latest/meta-data/iam/security-credentials/my-role",
           [&](const httplib::Request& q, httplib::Response& r) {
             seen.push_back("role " + q.get_header_value("x-aws-ec2-metadata-token"));
             r.set_content(document, "application/json");
           });
  server.start();
  qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  env.unset("AWS_CONTAINER_CREDENTIALS_RELATIVE_URI")
      .unset("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE")
      .set("AWS_CONTAINER_CREDENTIALS_FULL_URI", server.url("/creds"))
      .set("AWS_CONTAINER_AUTHORIZATION_TOKEN", "Bearer abc");
  const auto container = run_sync(credentials_from_container());
  ASSERT_TRUE(container);
  EXPECT_EQ(container->session_token, "t1");
  EXPECT_EQ(container->expiration, std::chrono::system_clock::from_time_t(4070908800));
  env.set("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE", dir.write("token", "from-file\n").string());
  EXPECT_EQ(run_sync(credentials_from_container())->access_key_id, "ASIA1");
  env.set("AWS_CONTAINER_CREDENTIALS_FULL_URI", "http://192.0.2.1/creds");
  EXPECT_THROW(run_sync(credentials_from_container()),
               Error);  // neither loopback nor the agent's address

  env.set("AWS_EC2_METADATA_SERVICE_ENDPOINT", server.url() + "/");
  env.set("AWS_EC2_METADATA_DISABLED", "true");
  EXPECT_EQ(run_sync(credentials_from_instance_metadata()), std::nullopt);
  env.set("AWS_EC2_METADATA_DISABLED", "false");
  const auto instance = run_sync(credentials_from_instance_metadata());
  ASSERT_TRUE(instance);
  EXPECT_EQ(instance->secret_access_key, "s1");
  EXPECT_EQ(seen,
            (std::vector<std::string>{"container Bearer abc", "container from-file",
                                      "token ttl 21600", "roles imds-token", "role imds-token"}));
  server.stop();
  EXPECT_EQ(run_sync(credentials_from_instance_metadata()), std::nullopt);  // nothing listening
}

std::string get_object_error(const qorl_testing::CannedServer& s3) {
  try {
    run_sync(client_for(s3.url(), keys("AKID", "secret")).get_object({"b", "k"}));
  } catch (const S3Error& e) {
    return e.what();
  }
  return "(no S3 error)";
}

TEST(HostileS3, ErrorsAndRedirectsAreReportedInS3sOwnWords) {
  const qorl_testing::CannedServer denied(
      {403,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>AccessDenied</Code>"
       "<Message>Access Denied</Message></Error>"});
  EXPECT_EQ(get_object_error(denied), "S3 GetObject failed: HTTP 403 AccessDenied: Access Denied");
  const qorl_testing::CannedServer moved({302, "", {}, {{"Location", "http://127.0.0.1:1/x"}}});
  EXPECT_EQ(get_object_error(moved),
            "S3 GetObject failed: HTTP 302: Found (S3 redirected the request: the bucket is in "
            "another region, or the endpoint is wrong)");
  const qorl_testing::CannedServer permanent(
      {301,
       "<Error><Code>PermanentRedirect</Code><Message>The bucket you are attempting to "
       "access must be addressed using the specified endpoint.</Message></Error>"});
  EXPECT_EQ(get_object_error(permanent),
            "S3 GetObject failed: HTTP 301 PermanentRedirect: The bucket you are attempting to "
            "access must be addressed using the specified endpoint. (S3 redirected the request: "
            "the bucket is in another region, or the endpoint is wrong)");
}

TEST(HostileXml, DeeplyNestedErrorDocumentsAreNotWalked) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  deep += "<Code>Deep</Code>";
  for (int i = 0; i < 100000; ++i) deep += "</a>";
  const qorl_testing::CannedServer nested({403, "<Error>" + deep + "</Error>"});
  EXPECT_EQ(get_object_error(nested), "S3 GetObject failed: HTTP 403: Forbidden");
  // Entities are never expanded: a document type declaration voids the document.
  const qorl_testing::CannedServer entities(
      {404, "<!DOCTYPE e [<!ENTITY x \"NoSuchKey\">]><Error><Code>&x;</Code></Error>"});
  EXPECT_EQ(get_object_error(entities), "S3 GetObject failed: HTTP 404: Not Found");
}

}  // namespace
}  // namespace clients::aws
