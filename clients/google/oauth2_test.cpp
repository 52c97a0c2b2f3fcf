#include "clients/google/oauth2.hpp"

#include <gtest/gtest.h>

#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"

namespace clients::google {
namespace {

http::Response token_answer(std::string body) {
  http::Response response;
  response.status = 200;
  response.body = std::move(body);
  return response;
}

TEST(HostileCredentials, AccessTokensThatCouldSplitHeadersAreRefused) {
  const auto now = std::chrono::system_clock::now();
  EXPECT_EQ(parse_token_response(token_answer(R"({"access_token":"ya29.ok"})"), now).token,
            "ya29.ok");
  try {
    parse_token_response(
        token_answer(R"({"access_token":"ya29.secret\r\nX-Injected: 1","expires_in":3600})"), now);
    FAIL() << "a token with a line break was accepted";
  } catch (const common::InvalidCredential& e) {
    EXPECT_EQ(std::string(e.what()).find("ya29.secret"), std::string::npos);
  }
}

TEST(HostileJson, DeeplyNestedTokenAnswersAreRefused) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_THROW(parse_token_response(token_answer(deep), std::chrono::system_clock::now()),
               common::JsonTooDeep);
}

}  // namespace
}  // namespace clients::google
