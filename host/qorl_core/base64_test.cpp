#include "qorl_core/base64.hpp"

#include <gtest/gtest.h>

namespace qorl_core {
namespace {

TEST(Base64Test, EncodesAndDecodesEveryPaddingLength) {
  for (std::string text : {"", "f", "fo", "foo", "foob", "fooba", "foobar"}) {
    EXPECT_EQ(base64_decode(base64_encode(text)), text);
  }
  EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(base64_encode(std::string("\xff\xfe", 2)), "//4=");
  std::string body = "data:";
  base64_append(body, "fo");
  EXPECT_EQ(body, "data:Zm8=");
}

TEST(Base64Test, StrictDecodingRefusesWhatIsNotBase64) {
  EXPECT_EQ(base64_decode("Zm9v\nYmFy"), std::nullopt);  // line break
  EXPECT_EQ(base64_decode("Zm9v YmFy"), std::nullopt);   // blank
  EXPECT_EQ(base64_decode("Zm9vYg"), std::nullopt);      // missing padding
  EXPECT_EQ(base64_decode("Zm=vYmFy"), std::nullopt);    // padding inside
  EXPECT_EQ(base64_decode("Zm9vYmF="), "fooba");
  EXPECT_EQ(base64_decode("Zg=="), "f");
  EXPECT_EQ(base64_decode("Z==="), std::nullopt);
  EXPECT_EQ(base64_decode("/tmp/a.png"), std::nullopt);
  EXPECT_EQ(base64_decode("-_-_"), std::nullopt);  // URL-safe alphabet is not standard
}

}  // namespace
}  // namespace qorl_core
