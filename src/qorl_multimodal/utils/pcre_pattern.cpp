#include "qorl_multimodal/utils/pcre_pattern.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

namespace qorl_multimodal::utils::pcre_pattern {

Pattern::Pattern(std::string_view pattern, Flags flags) {
  std::unique_ptr<pcre2_compile_context, decltype(&pcre2_compile_context_free)> context(
      pcre2_compile_context_create(nullptr), &pcre2_compile_context_free);
  if (!context) throw std::bad_alloc();
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
  std::uint32_t options = 0;
  if (flags.unicode) options |= PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF;
  if (flags.caseless) options |= PCRE2_CASELESS;
  int error = 0;
  PCRE2_SIZE offset = 0;
  code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                        &error, &offset, context.get());
  if (!code_) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(error, message, sizeof message);
    throw std::invalid_argument("invalid pattern at offset " + std::to_string(offset) + ": " +
                                reinterpret_cast<const char*>(message));
  }
}

Pattern::~Pattern() { pcre2_code_free(code_); }

std::optional<std::string> Pattern::search(std::string_view subject, int group) const {
  std::unique_ptr<pcre2_match_data, decltype(&pcre2_match_data_free)> match(
      pcre2_match_data_create_from_pattern(code_, nullptr), &pcre2_match_data_free);
  if (!match) throw std::bad_alloc();
  const int found = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                                0, 0, match.get(), nullptr);
  if (found <= group) return std::nullopt;
  const PCRE2_SIZE* groups = pcre2_get_ovector_pointer(match.get());
  const PCRE2_SIZE first = groups[2 * group];
  if (first == PCRE2_UNSET) return std::nullopt;
  return std::string(subject.substr(first, groups[2 * group + 1] - first));
}

}  // namespace qorl_multimodal::utils::pcre_pattern
