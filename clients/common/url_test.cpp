#include "clients/common/url.hpp"

#include <gtest/gtest.h>

#include "testing/scoped_env.hpp"

namespace clients::common {
namespace {

TEST(BaseUrlTest, GivenThenFirstSetVariableThenFallbackWithoutTrailingSlashes) {
  qorl_testing::ScopedEnv env;
  env.set("QORL_TEST_FIRST_URL", "").set("QORL_TEST_SECOND_URL", "http://127.0.0.1:9/v1//");
  const auto variables = {"QORL_TEST_FIRST_URL", "QORL_TEST_SECOND_URL"};
  EXPECT_EQ(resolve_base_url("http://127.0.0.1:8/", variables, "https://example.invalid"),
            "http://127.0.0.1:8");
  EXPECT_EQ(resolve_base_url(std::string(), variables, "https://example.invalid"),
            "http://127.0.0.1:9/v1");
  EXPECT_EQ(resolve_base_url(std::nullopt, {"QORL_TEST_FIRST_URL"}, "https://example.invalid/"),
            "https://example.invalid");
}

TEST(EncodePathTest, KeepsSlashesAndUnreservedCharactersOnly) {
  EXPECT_EQ(encode_path("operations/123"), "operations/123");
  EXPECT_EQ(encode_path("/a b/~x_y-z.1/+?#%"), "/a%20b/~x_y-z.1/%2B%3F%23%25");
  EXPECT_EQ(encode_path("\xC3\xBC//"), "%C3%BC//");
}

TEST(SplitUrlTest, AnyTextSplitsAsAUrl) {
  const UrlParts s3 = split_url("s3://bucket/dir/a b.png?x#y");
  EXPECT_EQ(s3.scheme, "s3");
  EXPECT_EQ(s3.network_location, "bucket");
  EXPECT_EQ(s3.path, "/dir/a b.png");
  const UrlParts no_host = split_url("https:a.wav");
  EXPECT_EQ(no_host.scheme, "https");
  EXPECT_EQ(no_host.network_location, "");
  EXPECT_EQ(no_host.path, "a.wav");
  EXPECT_EQ(split_url("//host:8/p").network_location, "host:8");
  EXPECT_EQ(split_url("plain text").path, "plain text");
}

TEST(EncodeUrlTest, EncodesOnlyWhatAUrlCannotHold) {
  EXPECT_EQ(encode_url("https://u:p@h.example:8/a b/\xC3\xBC.wav?q=1&r=[x]#f"),
            "https://u:p@h.example:8/a%20b/%C3%BC.wav?q=1&r=[x]#f");
  EXPECT_EQ(encode_url("https://h/already%20encoded?s=a+b"), "https://h/already%20encoded?s=a+b");
  EXPECT_EQ(encode_url("https://h/\"quoted\"<tag>\t"), "https://h/%22quoted%22%3Ctag%3E%09");
}

TEST(UrlSchemeTest, OnlyALeadingUriSchemeCounts) {
  EXPECT_EQ(url_scheme("s3://bucket/key with spaces"), "s3");
  EXPECT_EQ(url_scheme("svn+ssh://host/x"), "svn+ssh");
  EXPECT_EQ(url_scheme("C:\\photos\\a.png"), "C");
  EXPECT_EQ(url_scheme("photo.png"), std::nullopt);
  EXPECT_EQ(url_scheme("1x:y"), std::nullopt);
  EXPECT_EQ(url_scheme("my photo:1.png"), std::nullopt);
  EXPECT_EQ(url_scheme("./a:b"), std::nullopt);
  EXPECT_EQ(url_scheme(":x"), std::nullopt);
}

}  // namespace
}  // namespace clients::common
