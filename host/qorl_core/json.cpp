#include "qorl_core/json.hpp"

#include "clients/common/json_parse.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/record.hpp"

namespace qorl_core {

nlohmann::ordered_json to_ordered_json(const Value& value) {
  using json = nlohmann::ordered_json;
  struct Visitor {
    json operator()(None) const { return nullptr; }
    json operator()(bool b) const { return b; }
    json operator()(std::int64_t i) const { return i; }
    json operator()(double d) const { return d; }
    json operator()(const std::string& s) const { return s; }
    json operator()(const Bytes& b) const { return base64_encode(b.view()); }
    json operator()(const List& l) const {
      json out = json::array();
      for (const auto& item : l) out.push_back(to_ordered_json(item));
      return out;
    }
    json operator()(const Map& m) const {
      json out = json::object();
      m.for_each([&](const std::string& k, const Value& v) { out[k] = to_ordered_json(v); });
      return out;
    }
    json operator()(const std::shared_ptr<Object>& o) const {
      if (!o) return nullptr;
      if (auto record = std::dynamic_pointer_cast<RecordBase>(o)) {
        return to_ordered_json(record->to_map());
      }
      return o->type_name();
    }
  };
  return std::visit(Visitor{}, value.storage());
}

namespace {

// Outside data is parsed with a bound on nesting; this walk keeps to the same bound, so a
// document built otherwise cannot take it past the stack either.
Value from_ordered_json(const nlohmann::ordered_json& json, int depth) {
  switch (json.type()) {
    case nlohmann::ordered_json::value_t::null:
    case nlohmann::ordered_json::value_t::discarded: return None{};
    case nlohmann::ordered_json::value_t::boolean: return json.get<bool>();
    case nlohmann::ordered_json::value_t::number_integer: return json.get<std::int64_t>();
    case nlohmann::ordered_json::value_t::number_unsigned: {
      const auto u = json.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(INT64_MAX)) return static_cast<double>(u);
      return static_cast<std::int64_t>(u);
    }
    case nlohmann::ordered_json::value_t::number_float: return json.get<double>();
    case nlohmann::ordered_json::value_t::string: return json.get<std::string>();
    case nlohmann::ordered_json::value_t::binary: {
      const auto& bin = json.get_binary();
      return Bytes(bin.data(), bin.size());
    }
    case nlohmann::ordered_json::value_t::array:
    case nlohmann::ordered_json::value_t::object: break;
  }
  if (depth >= clients::common::MAX_JSON_DEPTH) {
    throw ValueError("JSON value nested deeper than " +
                     std::to_string(clients::common::MAX_JSON_DEPTH) + " levels");
  }
  if (json.is_array()) {
    List list;
    list.reserve(json.size());
    for (const auto& item : json) list.push_back(from_ordered_json(item, depth + 1));
    return list;
  }
  Map map;
  for (const auto& [key, item] : json.items()) map.set(key, from_ordered_json(item, depth + 1));
  return map;
}

}  // namespace

Value from_ordered_json(const nlohmann::ordered_json& json) { return from_ordered_json(json, 0); }

}  // namespace qorl_core
