#include "qorl_inference/media_type.hpp"

#include <gtest/gtest.h>

#include <string>

namespace qorl_inference {
namespace {

const std::string kJpegHeader(
    "\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20);

// Large content is sniffed from its first bytes when they name a binary format, and whole
// when they look like text, where the rest can change the answer.
TEST(MediaTypeTest, LargeContentGetsTheSameAnswerAsWhenSniffedWhole) {
  std::string jpeg = kJpegHeader;
  for (int i = 0; jpeg.size() < 200 * 1024; ++i) jpeg += static_cast<char>((i * 7919) % 251);
  EXPECT_EQ(sniff_mime_type(jpeg), "image/jpeg");
  EXPECT_EQ(sniff_extension(jpeg), "jpeg");

  // A JSON document is only known as one once it closes.
  std::string json = "{\"items\": [";
  while (json.size() < 100 * 1024) json += "\"value\", ";
  json += "\"last\"]}";
  EXPECT_EQ(sniff_mime_type(json), "application/json");

  // Text with a character cut in two at the prefix's end, and a binary byte far into it.
  std::string text(16 * 1024 - 1, 'a');
  text += "\xc3\xa9 and more text\n";
  EXPECT_EQ(sniff_mime_type(text), "text/plain");
  text += std::string(40 * 1024, 'b') + '\0' + "tail";
  EXPECT_EQ(sniff_mime_type(text), "application/octet-stream");
}

}  // namespace
}  // namespace qorl_inference
