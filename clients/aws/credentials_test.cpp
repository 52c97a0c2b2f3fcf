#include "clients/aws/credentials.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "clients/aws/shared_config.hpp"
#include "clients/common/run_sync.hpp"
#include "clients/common/secret_text.hpp"
#include "testing/http_server.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace clients::aws {
namespace {

// Every variable the chain and region resolution read, cleared, with shared files in `dir`.
void isolate(qorl_testing::ScopedEnv& env, const qorl_testing::TempDir& dir) {
  for (const char* name :
       {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN", "AWS_SECURITY_TOKEN",
        "AWS_PROFILE", "AWS_DEFAULT_PROFILE", "AWS_REGION", "AWS_DEFAULT_REGION",
        "AWS_CONTAINER_CREDENTIALS_RELATIVE_URI", "AWS_CONTAINER_CREDENTIALS_FULL_URI",
        "AWS_CONTAINER_AUTHORIZATION_TOKEN", "AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE",
        "AWS_ENDPOINT_URL", "AWS_ENDPOINT_URL_S3"}) {
    env.unset(name);
  }
  env.set("AWS_SHARED_CREDENTIALS_FILE", (dir.path() / "credentials").string())
      .set("AWS_CONFIG_FILE", (dir.path() / "config").string())
      .set("AWS_EC2_METADATA_DISABLED", "true");
}

TEST(SharedConfigTest, IniSectionsSkipCommentsAndNestedSettings) {
  const std::string text =
      "# comment\n[default]\naws_access_key_id = A\n; other\n[profile dev]\n"
      "Region = eu-west-1\ns3 =\n  region = nested\n  addressing_style = path\n"
      "endpoint_url = http://127.0.0.1:9/x\n[ spaced ]\nk: v\n";
  EXPECT_EQ(
      read_ini_section(text, "profile dev"),
      (Profile{{"endpoint_url", "http://127.0.0.1:9/x"}, {"region", "eu-west-1"}, {"s3", ""}}));
  EXPECT_EQ(read_ini_section(text, "spaced"), (Profile{{"k", "v"}}));
  EXPECT_TRUE(read_ini_section(text, "missing").empty());
}

TEST(SharedConfigTest, RegionComesFromEnvironmentThenProfileThenDefault) {
  qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  isolate(env, dir);
  EXPECT_EQ(resolve_region(), "us-east-1");
  dir.write("config", "[default]\nregion = eu-north-1\n[profile dev]\nregion = ap-south-1\n");
  EXPECT_EQ(resolve_region(), "eu-north-1");
  env.set("AWS_PROFILE", "dev");
  EXPECT_EQ(resolve_region(), "ap-south-1");
  env.set("AWS_DEFAULT_REGION", "us-west-1");
  EXPECT_EQ(resolve_region(), "us-west-1");
  env.set("AWS_REGION", "us-west-2");
  EXPECT_EQ(resolve_region(), "us-west-2");

  EXPECT_EQ(s3_endpoint_url(), std::nullopt);
  env.set("AWS_ENDPOINT_URL", "http://127.0.0.1:1");
  EXPECT_EQ(s3_endpoint_url(), "http://127.0.0.1:1");
  env.set("AWS_ENDPOINT_URL_S3", "http://127.0.0.1:2");
  EXPECT_EQ(s3_endpoint_url(), "http://127.0.0.1:2");
}

TEST(CredentialsTest, ChainPrefersEnvironmentThenCredentialsFileThenConfigFile) {
  qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  isolate(env, dir);
  EXPECT_THROW(common::run_sync(DefaultCredentialsChain().credentials()), NoCredentialsError);

  dir.write("config", "[profile dev]\naws_access_key_id = CFG\naws_secret_access_key = cs\n");
  env.set("AWS_PROFILE", "dev");
  EXPECT_EQ(common::run_sync(DefaultCredentialsChain().credentials()).access_key_id, "CFG");

  dir.write("credentials",
            "[default]\naws_access_key_id = DEF\naws_secret_access_key = ds\n"
            "[dev]\naws_access_key_id = DEV\naws_secret_access_key = vs\naws_session_token = t\n");
  const Credentials from_file = common::run_sync(DefaultCredentialsChain().credentials());
  EXPECT_EQ(from_file.access_key_id, "DEV");
  EXPECT_EQ(from_file.secret_access_key, "vs");
  EXPECT_EQ(from_file.session_token, "t");

  // A key without its secret is no credentials at all.
  env.set("AWS_ACCESS_KEY_ID", "ENV");
  EXPECT_EQ(common::run_sync(DefaultCredentialsChain().credentials()).access_key_id, "DEV");
  env.set("AWS_SECRET_ACCESS_KEY", "es").set("AWS_SESSION_TOKEN", "et");
  const Credentials from_env = common::run_sync(DefaultCredentialsChain().credentials());
  EXPECT_EQ(from_env.access_key_id, "ENV");
  EXPECT_EQ(from_env.session_token, "et");
}

TEST(HostileCredentialFiles, SharedFilesThatAreNoRegularFilesOrTooLargeAreRefused) {
  qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  isolate(env, dir);
  // A missing file is simply no credentials.
  EXPECT_EQ(credentials_from_shared_files(), std::nullopt);

  env.set("AWS_SHARED_CREDENTIALS_FILE", dir.path().string());
  try {
    credentials_from_shared_files();
    FAIL() << "a directory was read as the credentials file";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot read the AWS shared file: " + dir.path().string() +
                                             " is not a regular file (a directory); refused");
  }
  const auto huge = dir.write("huge", "[default]\n" + std::string(2 << 20, '#'));
  env.set("AWS_SHARED_CREDENTIALS_FILE", huge.string());
  EXPECT_THROW(credentials_from_shared_files(), Error);
  env.set("AWS_SHARED_CREDENTIALS_FILE", (dir.path() / "credentials").string())
      .set("AWS_CONFIG_FILE", huge.string());
  EXPECT_THROW(resolve_region(), Error);
}

// The container agent's address on loopback, recording what reaches it.
class ContainerAgent {
 public:
  ContainerAgent() {
    server_.server().Get("/creds", [this](const httplib::Request&, httplib::Response& response) {
      ++requests;
      response.set_content(R"({"AccessKeyId":"K","SecretAccessKey":"S","Token":"T"})",
                           "application/json");
    });
    server_.start();
  }
  std::string url() const { return server_.url("/creds"); }
  std::atomic<int> requests{0};

 private:
  qorl_testing::HttpServer server_;
};

TEST(HostileCredentials, ContainerTokensThatCouldSplitHeadersAreNeverSent) {
  qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  isolate(env, dir);
  ContainerAgent agent;
  env.set("AWS_CONTAINER_CREDENTIALS_FULL_URI", agent.url())
      .set("AWS_CONTAINER_AUTHORIZATION_TOKEN", "secret-token\r\nX-Injected: 1");
  try {
    common::run_sync(credentials_from_container());
    FAIL() << "a token with a line break was sent";
  } catch (const common::InvalidCredential& error) {
    EXPECT_EQ(std::string(error.what()).find("secret-token"), std::string::npos);
  }
  env.unset("AWS_CONTAINER_AUTHORIZATION_TOKEN")
      .set("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE",
           dir.write("token", "secret-token\nX-Injected: 1\n").string());
  EXPECT_THROW(common::run_sync(credentials_from_container()), common::InvalidCredential);
  EXPECT_EQ(agent.requests, 0);

  // A token file is read within the cap, and never from a device.
  env.set("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE", "/dev/zero");
  EXPECT_THROW(common::run_sync(credentials_from_container()), Error);
  env.set("AWS_CONTAINER_AUTHORIZATION_TOKEN_FILE", dir.write("token", "good-token\n").string());
  EXPECT_EQ(common::run_sync(credentials_from_container())->access_key_id, "K");
  EXPECT_EQ(agent.requests, 1);
}

}  // namespace
}  // namespace clients::aws
