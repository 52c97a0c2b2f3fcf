#include "qorl_core/record.hpp"

#include "qorl_core/text.hpp"

namespace qorl_core {
namespace record_detail {
std::optional<double> parse_real(std::string_view text) {
  text = strip(text);
  if (text.empty()) return std::nullopt;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::int64_t> parse_integer(std::string_view text) {
  text = strip(text);
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
  m.for_each(
      [&](const std::string& key, const Value& v) { out.set(key, FieldCodec<Value>::encode(v)); });
  return out;
}

}  // namespace qorl_core
