#include "clients/common/secret_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace clients::common {
namespace {

TEST(CheckCredentialTest, KeysWithControlCharactersAreRefusedWithoutShowingThem) {
  EXPECT_NO_THROW(check_credential("sk-abc_DEF.123", "The key"));
  EXPECT_NO_THROW(check_credential("", "The key"));
  for (const std::string& key :
       std::vector<std::string>{"sk-secret\r\nX-Injected: 1", "sk-secret\n",
                                std::string("sk\0x", 4), "sk-secret\x7f", "sk\tsecret"}) {
    try {
      check_credential(key, "The OpenAI API key");
      FAIL() << "a key with a control character was accepted";
    } catch (const InvalidCredential& error) {
      EXPECT_STREQ(error.what(),
                   "The OpenAI API key contains a control character (such as a line break); "
                   "refused");
    }
  }
}

}  // namespace
}  // namespace clients::common
