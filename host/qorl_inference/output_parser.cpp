#include "qorl_inference/output_parser.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>
#include <vector>

#include "clients/common/json_parse.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/text.hpp"

namespace qorl_inference {
namespace {

std::optional<qorl_core::Value> try_parse(std::string_view text) {
  auto json =
      clients::common::parse_json_or_discarded<nlohmann::ordered_json>(text, "The language model");
  if (json.is_discarded()) return std::nullopt;
  return qorl_core::from_ordered_json(json);
}

// Bodies of the fenced code blocks ("```lang\n...\n```"), in order.
std::vector<std::string_view> fenced_blocks(std::string_view text) {
  std::vector<std::string_view> blocks;
  std::size_t pos = 0;
  while ((pos = text.find("```", pos)) != std::string_view::npos) {
    const std::size_t line_end = text.find('\n', pos + 3);
    if (line_end == std::string_view::npos) break;
    const std::size_t close = text.find("```", line_end + 1);
    if (close == std::string_view::npos) break;
    blocks.push_back(text.substr(line_end + 1, close - line_end - 1));
    pos = close + 3;
  }
  return blocks;
}

// From the first '{' or '[' to the last '}' or ']'.
std::optional<std::string_view> outer_span(std::string_view text) {
  const auto first = text.find_first_of("{[");
  const auto last = text.find_last_of("}]");
  if (first == std::string_view::npos || last == std::string_view::npos || last < first) {
    return std::nullopt;
  }
  return text.substr(first, last - first + 1);
}

// At most `limit` characters of `text`.
std::string excerpt(std::string_view text, std::size_t limit) {
  const auto cut = qorl_core::prefix_characters(text, limit);
  return cut.size() == text.size() ? std::string(text) : std::string(cut) + "...";
}

}  // namespace

qorl_core::Value JSONOutputParser::parse(const std::string& text) const {
  const std::string_view answer = qorl_core::strip(text);
  if (auto value = try_parse(answer)) return *value;
  for (const auto block : fenced_blocks(answer)) {
    if (auto value = try_parse(qorl_core::strip(block))) return *value;
  }
  if (auto span = outer_span(answer)) {
    if (auto value = try_parse(*span)) return *value;
  }
  throw qorl_core::ValueError("Failed to parse JSON from the model output: " +
                              qorl_core::repr(excerpt(answer, 200)));
}

}  // namespace qorl_inference
