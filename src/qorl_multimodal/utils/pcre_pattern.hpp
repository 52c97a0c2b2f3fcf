// Compiled PCRE2 patterns for searching untrusted text. PCRE2 rather than std::regex: Unicode
// word characters, and no recursion that long inputs could exhaust the stack with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct pcre2_real_code_8;

namespace qorl_multimodal::utils::pcre_pattern {

class Pattern {
 public:
  struct Flags {
    // UTF-8 with Unicode properties: \w and \d take letters and digits of every script; input
    // that is not valid UTF-8 is searched as far as it is valid.
    bool unicode = false;
    bool caseless = false;
  };

  // Throws std::invalid_argument for a pattern PCRE2 does not accept. "." stops at line
  // feeds only.
  explicit Pattern(std::string_view pattern, Flags flags);
  explicit Pattern(std::string_view pattern) : Pattern(pattern, Flags{}) {}
  ~Pattern();
  Pattern(const Pattern&) = delete;
  Pattern& operator=(const Pattern&) = delete;

  // Capture group `group` of the first match anywhere in `subject`; none when nothing matches
  // or the group took no part in the match.
  std::optional<std::string> search(std::string_view subject, int group = 1) const;

 private:
  pcre2_real_code_8* code_ = nullptr;
};

}  // namespace qorl_multimodal::utils::pcre_pattern
