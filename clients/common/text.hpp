// ASCII text helpers for protocol text (header names, tags, hex digests), shared by every layer:
// the clients may use nothing above them, so the one copy lives here.
#pragma once

#include <string>
#include <string_view>

namespace clients::common {

// ASCII white space: blank, tab, line breaks, form feed and vertical tab.
inline constexpr std::string_view kAsciiWhiteSpace = " \t\n\r\f\v";

// `text` without leading and trailing characters of `blanks`.
constexpr std::string_view trim(std::string_view text,
                                std::string_view blanks = kAsciiWhiteSpace) noexcept {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// `text` without trailing characters of `blanks`.
constexpr std::string_view trim_end(std::string_view text,
                                    std::string_view blanks = kAsciiWhiteSpace) noexcept {
  const auto last = text.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

constexpr char ascii_lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }
constexpr char ascii_upper(char c) noexcept { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

// `text` with its ASCII letters lower-cased (upper-cased); other bytes, UTF-8 included, unchanged.
inline std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

inline std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_upper(c);
  return out;
}

// Lower-case hex of `bytes`, two digits a byte.
inline std::string hex(std::string_view bytes) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0f]);
  }
  return out;
}

}  // namespace clients::common
