#include "clients/common/base64.hpp"

#include <gtest/gtest.h>

namespace clients::common {
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

// Six bits at a time, the plain way: the reference for the word-wide encoder.
std::string reference_encoding(const std::string& data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t bits = 0;
  std::uint32_t buffer = 0;
  for (unsigned char c : data) {
    buffer = (buffer << 8) | c;
    for (bits += 8; bits >= 6; bits -= 6) out += kAlphabet[(buffer >> (bits - 6)) & 63];
  }
  if (bits > 0) out += kAlphabet[(buffer << (6 - bits)) & 63];
  while (out.size() % 4 != 0) out += '=';
  return out;
}

TEST(Base64Test, EveryByteValueAtEveryOffsetAndLength) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>((i * 151 + 7) & 0xff);
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t offset = 0; offset + length <= data.size(); offset += 37) {
      const std::string piece = data.substr(offset, length);
      ASSERT_EQ(base64_encode(piece), reference_encoding(piece)) << offset << "+" << length;
      ASSERT_EQ(base64_decode(base64_encode(piece)), piece);
    }
  }
  EXPECT_EQ(base64_encode(data), reference_encoding(data));
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

TEST(Base64Test, UrlFormHasNoPaddingAndTheUrlAlphabet) {
  EXPECT_EQ(base64url_encode(""), "");
  EXPECT_EQ(base64url_encode("f"), "Zg");
  EXPECT_EQ(base64url_encode("\xfb\xff\xbf"), "-_-_");
}

}  // namespace
}  // namespace clients::common
