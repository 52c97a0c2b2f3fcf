#include "qorl_core/string_enum.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <unordered_map>

namespace qorl_core {
namespace {

class Color : public StringEnum<Color> {
 public:
  using StringEnum::StringEnum;
  static constexpr std::string_view kEnumName = "Color";
  static const Color RED, DARK_BLUE;
  static std::span<const Color> members();
};
inline constexpr Color Color::RED{"RED", "red"};
inline constexpr Color Color::DARK_BLUE{"DARK_BLUE", "dark_blue"};
std::span<const Color> Color::members() {
  static constexpr std::array kMembers{RED, DARK_BLUE};
  return kMembers;
}

TEST(StringEnumTest, MembersAreTheirTextValues) {
  EXPECT_TRUE(Color::RED == "red");
  EXPECT_FALSE(Color::RED == Color::DARK_BLUE);
  EXPECT_EQ(std::hash<Color>{}(Color::RED), std::hash<std::string_view>{}("red"));
  std::unordered_map<std::string, int, TextHash, std::equal_to<>> by_text{{"red", 1}};
  EXPECT_EQ(by_text.find(Color::RED.value())->second, 1);
  std::ostringstream out;
  out << Color::DARK_BLUE;
  EXPECT_EQ(out.str(), "dark_blue");
  EXPECT_EQ(fmt::format("{}!", Color::RED), "red!");
}

TEST(StringEnumTest, DebugFormAndOrderedMembers) {
  EXPECT_EQ(Color::DARK_BLUE.repr(), "<Color.DARK_BLUE: 'dark_blue'>");
  ASSERT_EQ(Color::members().size(), 2u);
  EXPECT_EQ(Color::members()[0], Color::RED);
  EXPECT_EQ(Color::from_value("dark_blue"), Color::DARK_BLUE);
  EXPECT_EQ(Color::from_value("blue"), std::nullopt);
}

}  // namespace
}  // namespace qorl_core
