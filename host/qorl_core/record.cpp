#include "qorl_core/record.hpp"

#include <cctype>
#include <cstdlib>

namespace qorl_core {
namespace record_detail {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<double> parse_real(std::string_view text) {
  text = trim(text);
  if (text.empty()) return std::nullopt;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> parse_integer(std::string_view text) {
  text = trim(text);
  if (text.empty()) return std::nullopt;
  if (text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace record_detail

Value FieldCodec<Value>::encode(const Value& v) {
  if (auto record = v.object_as<RecordBase>()) return record->to_map();
  if (v.is_map()) return FieldCodec<Map>::encode(v.as_map());
  if (v.is_list()) {
    List out;
    for (const auto& item : v.as_list()) out.push_back(encode(item));
    return out;
  }
  return v;
}

Value FieldCodec<Map>::encode(const Map& m) {
  Map out;
  m.for_each([&](const std::string& key, const Value& v) { out.set(key, FieldCodec<Value>::encode(v)); });
  return out;
}

}  // namespace qorl_core
