#include "qorl_core/text.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace qorl_core {
namespace {

bool is_white_space(UChar32 c) {
  return c >= 0 && (u_isUWhiteSpace(c) || (c >= 0x1c && c <= 0x1f));
}

const std::uint8_t* bytes_of(std::string_view text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

}  // namespace

std::string_view strip_unicode(std::string_view text) noexcept {
  const auto* s = bytes_of(text);
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t begin = 0;
  while (begin < length) {
    std::int32_t next = begin;
    UChar32 c;
    U8_NEXT(s, next, length, c);
    if (!is_white_space(c)) break;
    begin = next;
  }
  std::int32_t end = length;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U8_PREV(s, begin, previous, c);
    if (!is_white_space(c)) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

bool is_blank(std::string_view text) noexcept { return strip_unicode(text).empty(); }

std::string_view prefix_characters(std::string_view text, std::size_t count) noexcept {
  const auto* s = bytes_of(text);
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t end = 0;
  for (; count > 0 && end < length; --count) U8_FWD_1(s, end, length);
  return text.substr(0, static_cast<std::size_t>(end));
}

}  // namespace qorl_core
