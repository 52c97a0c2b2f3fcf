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

}  // namespace
}  // namespace clients::common
