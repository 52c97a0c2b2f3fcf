// Small text helpers shared by parsers and source checks.
#pragma once

#include <string_view>

#include "clients/common/text.hpp"

namespace qorl_core {

// The ASCII helpers are shared with the clients, which may use nothing of this library.
using clients::common::ascii_lower;
using clients::common::ascii_upper;
using clients::common::hex;
using clients::common::trim;
using clients::common::trim_end;

// `text` without leading and trailing ASCII white space (blank, tab, line breaks, form feed,
// vertical tab): for machine-written text (numbers, model answers read as JSON or a name).
constexpr std::string_view strip(std::string_view text) noexcept {
  return clients::common::trim(text);
}

static_assert(strip("  a b \n") == "a b");
static_assert(strip(" \t\n").empty());

// `text` (UTF-8) without leading and trailing white space as a person's text has it: every
// Unicode white space (no-break space, ideographic space, line separator, ...) plus the ASCII
// separators \x1c-\x1f, the set a dynamic language's strip() removes. Stops at invalid UTF-8.
std::string_view strip_unicode(std::string_view text) noexcept;

// True when strip_unicode leaves nothing: the rule for blank sources and texts.
bool is_blank(std::string_view text) noexcept;

// The first `count` characters (code points) of UTF-8 `text`, never cutting a sequence; an
// invalid byte counts as one character.
std::string_view prefix_characters(std::string_view text, std::size_t count) noexcept;

}  // namespace qorl_core
