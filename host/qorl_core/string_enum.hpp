// String-valued enumerations: a member equals, hashes and prints as its text value, and has a
// debug form like <Modality.IMAGE: 'image'>.
//
//   class Color : public qorl_core::StringEnum<Color> {
//    public:
//     using StringEnum::StringEnum;
//     static constexpr std::string_view kEnumName = "Color";
//     static const Color RED;
//     static std::span<const Color> members();
//   };
//   inline constexpr Color Color::RED{"RED", "red"};
#pragma once

#include <fmt/format.h>

#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace qorl_core {

struct StringEnumTag {};

template <typename Derived>
class StringEnum : public StringEnumTag {
 public:
  constexpr StringEnum(std::string_view name, std::string_view value) noexcept
      : name_(name), value_(value) {}

  constexpr std::string_view name() const noexcept { return name_; }
  constexpr std::string_view value() const noexcept { return value_; }
  std::string str() const { return std::string(value_); }
  operator std::string_view() const noexcept { return value_; }

  std::string repr() const {
    return "<" + std::string(Derived::kEnumName) + "." + std::string(name_) + ": '" +
           std::string(value_) + "'>";
  }

  // The member whose value is `value`, in declaration order.
  static std::optional<Derived> from_value(std::string_view value) {
    for (const auto& member : Derived::members()) {
      if (member.value() == value) return member;
    }
    return std::nullopt;
  }

  friend constexpr bool operator==(const Derived& a, const Derived& b) noexcept {
    return a.value_ == b.value_;
  }
  friend constexpr bool operator==(const Derived& a, std::string_view text) noexcept {
    return a.value_ == text;
  }
  friend std::ostream& operator<<(std::ostream& out, const Derived& member) {
    return out << member.value_;
  }

 private:
  std::string_view name_;
  std::string_view value_;
};

// Hashes members and texts alike, so maps keyed by text find members and the other way round.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

}  // namespace qorl_core

template <typename T>
requires std::is_base_of_v<qorl_core::StringEnumTag, T>
struct std::hash<T> {
  std::size_t operator()(const T& member) const noexcept {
    return std::hash<std::string_view>{}(member.value());
  }
};

template <typename T>
requires std::is_base_of_v<qorl_core::StringEnumTag, T>
struct fmt::formatter<T> : fmt::formatter<std::string_view> {
  auto format(const T& member, fmt::format_context& ctx) const {
    return fmt::formatter<std::string_view>::format(member.value(), ctx);
  }
};
