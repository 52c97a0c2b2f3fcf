#include "clients/common/text.hpp"

#include <gtest/gtest.h>

namespace clients::common {
namespace {

static_assert(trim(" \t a b \r\n") == "a b");
static_assert(trim("..mp3.", ".") == "mp3");
static_assert(trim(" \v\f").empty());

TEST(AsciiTextTest, CaseChangesOnlyAsciiLetters) {
  EXPECT_EQ(ascii_lower("X-Amz-Date \xC3\x9C"), "x-amz-date \xC3\x9C");
  EXPECT_EQ(ascii_upper("object \xC3\xBC 1"), "OBJECT \xC3\xBC 1");
}

TEST(AsciiTextTest, HexWritesTwoLowerCaseDigitsPerByte) {
  EXPECT_EQ(hex(std::string_view("\x00\x0f\xa0\xff", 4)), "000fa0ff");
  EXPECT_EQ(hex(""), "");
}

}  // namespace
}  // namespace clients::common
