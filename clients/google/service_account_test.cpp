#include "clients/google/service_account.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "clients/common/json_parse.hpp"
#include "testing/google_fakes.hpp"
#include "testing/temp_dir.hpp"

namespace clients::google {
namespace {

TEST(ServiceAccountKeyTest, ReadsKeyContentAndKeyFiles) {
  const qorl_testing::ServiceAccount account("http://127.0.0.1:1/token");
  const ServiceAccountKey key = ServiceAccountKey::from_json(account.key_json());
  EXPECT_EQ(key.client_email, account.client_email());
  EXPECT_EQ(key.token_uri, "http://127.0.0.1:1/token");
  EXPECT_EQ(key.private_key_id, "key-1");

  qorl_testing::TempDir dir;
  EXPECT_EQ(
      ServiceAccountKey::from_file(dir.write("key.json", account.key_json()).string()).client_email,
      account.client_email());
  EXPECT_THROW(ServiceAccountKey::from_file((dir.path() / "absent.json").string()), Error);
  try {
    ServiceAccountKey::from_json(R"({"type": "service_account", "private_key": "x"})");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "Service account info was not in the expected format, missing fields "
                 "client_email, token_uri.");
  }
  EXPECT_THROW(ServiceAccountKey::from_json("not json"), Error);
}

TEST(ServiceAccountKeyTest, AssertionIsAnRs256JwtForTheTokenUri) {
  const qorl_testing::ServiceAccount account("http://127.0.0.1:1/token");
  const auto key = ServiceAccountKey::from_json(account.key_json());
  const auto now = std::chrono::system_clock::from_time_t(1735689600);
  const std::string jwt =
      make_jwt_assertion(key, {"https://www.googleapis.com/auth/drive.readonly"}, now);

  const auto claims = account.verify_assertion(jwt);
  ASSERT_TRUE(claims) << "signature does not verify with the key's public half";
  EXPECT_EQ(*claims,
            nlohmann::json::parse(R"({"iss": ")" + account.client_email() +
                                  R"(", "scope": "https://www.googleapis.com/auth/drive.readonly",
                             "aud": "http://127.0.0.1:1/token", "iat": 1735689600,
                             "exp": 1735693200})"));
  EXPECT_EQ(jwt.find('='), std::string::npos);

  const auto other = qorl_testing::ServiceAccount("http://127.0.0.1:1/token");
  EXPECT_FALSE(other.verify_assertion(jwt));
  EXPECT_THROW(make_jwt_assertion(ServiceAccountKey{"a", "not a key", "", "u", ""}, {}, now),
               Error);
}

std::string key_file_refusal(const std::string& path) {
  try {
    ServiceAccountKey::from_file(path);
  } catch (const Error& e) {
    return e.what();
  }
  return "(read)";
}

TEST(HostileCredentialFiles, KeyFilesThatAreNoRegularFilesOrTooLargeAreRefused) {
  qorl_testing::TempDir dir;
  // A key padded past the cap with blanks would otherwise be read, however large.
  const qorl_testing::ServiceAccount account("http://127.0.0.1:1/token");
  const auto padded = dir.write("padded.json", account.key_json() + std::string(2 << 20, ' '));
  EXPECT_EQ(key_file_refusal(padded.string()),
            "Cannot read the service account key file: " + padded.string() +
                " is larger than the 1048576 bytes allowed for it; refused");
  EXPECT_EQ(key_file_refusal(dir.path().string()),
            "Cannot read the service account key file: " + dir.path().string() +
                " is not a regular file (a directory); refused");
  EXPECT_EQ(key_file_refusal("/dev/zero"),
            "Cannot read the service account key file: /dev/zero is not a regular file (a "
            "character device); refused");
  EXPECT_EQ(key_file_refusal((dir.path() / "absent.json").string()),
            "File " + (dir.path() / "absent.json").string() + " was not found.");
}

TEST(HostileJson, DeeplyNestedKeyContentIsRefused) {
  const std::string deep =
      R"({"client_email": )" + std::string(100000, '[') + std::string(100000, ']') + "}";
  EXPECT_THROW(ServiceAccountKey::from_json(deep), common::JsonTooDeep);
}

}  // namespace
}  // namespace clients::google
