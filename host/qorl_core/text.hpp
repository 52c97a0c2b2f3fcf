// Small text helpers shared by parsers and source checks.
#pragma once

#include <string_view>

namespace qorl_core {

// `text` without leading and trailing ASCII white space (blank, tab, line breaks, form feed,
// vertical tab).
constexpr std::string_view strip(std::string_view text) noexcept {
  constexpr std::string_view kWhiteSpace = " \t\n\r\f\v";
  const auto first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
}

static_assert(strip("  a b \n") == "a b");
static_assert(strip(" \t\n").empty());

}  // namespace qorl_core
