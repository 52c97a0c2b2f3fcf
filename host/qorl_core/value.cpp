#include "qorl_core/value.hpp"

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cmath>

#include "clients/common/json_parse.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/json.hpp"

namespace qorl_core {

// ---- Map ----------------------------------------------------------------------------------

Map::Map(std::initializer_list<std::pair<std::string, Value>> entries) {
  for (const auto& [key, value] : entries) set(key, value);
}

std::optional<std::size_t> Map::index_of(std::string_view key) const noexcept {
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] == key) return i;
  }
  return std::nullopt;
}

bool Map::contains(std::string_view key) const noexcept { return index_of(key).has_value(); }

const Value* Map::find(std::string_view key) const noexcept {
  auto i = index_of(key);
  return i ? &values_[*i] : nullptr;
}

Value* Map::find(std::string_view key) noexcept {
  auto i = index_of(key);
  return i ? &values_[*i] : nullptr;
}

const Value& Map::at(std::string_view key) const {
  if (const Value* v = find(key)) return *v;
  throw KeyError(repr(key));
}

Value Map::get(std::string_view key, const Value& fallback) const {
  const Value* v = find(key);
  return v ? *v : fallback;
}

void Map::set(std::string key, Value value) {
  if (auto i = index_of(key)) {
    values_[*i] = std::move(value);
    return;
  }
  keys_.push_back(std::move(key));
  values_.push_back(std::move(value));
}

Value& Map::operator[](std::string_view key) {
  if (auto i = index_of(key)) return values_[*i];
  keys_.emplace_back(key);
  values_.emplace_back();
  return values_.back();
}

bool Map::erase(std::string_view key) {
  auto i = index_of(key);
  if (!i) return false;
  keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(*i));
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(*i));
  return true;
}

bool operator==(const Map& a, const Map& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.keys_.size(); ++i) {
    const Value* other = b.find(a.keys_[i]);
    if (!other || !(*other == a.values_[i])) return false;
  }
  return true;
}

// ---- Value --------------------------------------------------------------------------------

namespace {

[[noreturn]] void wrong_kind(const Value& value, const char* wanted) {
  throw TypeError(
      fmt::format("expected a value of kind '{}', got '{}'", wanted, value.type_name()));
}

template <typename T>
const T& get_or_throw(const Value::Storage& storage, const Value& self, const char* wanted) {
  if (const T* p = std::get_if<T>(&storage)) return *p;
  wrong_kind(self, wanted);
}

}  // namespace

bool Value::as_bool() const { return get_or_throw<bool>(storage_, *this, "bool"); }
std::int64_t Value::as_int() const { return get_or_throw<std::int64_t>(storage_, *this, "int"); }
double Value::as_double() const {
  if (is_int()) return static_cast<double>(std::get<std::int64_t>(storage_));
  return get_or_throw<double>(storage_, *this, "float");
}
const std::string& Value::as_string() const {
  return get_or_throw<std::string>(storage_, *this, "str");
}
const Bytes& Value::as_bytes() const { return get_or_throw<Bytes>(storage_, *this, "bytes"); }
const List& Value::as_list() const { return get_or_throw<List>(storage_, *this, "list"); }
List& Value::as_list() { return const_cast<List&>(std::as_const(*this).as_list()); }
const Map& Value::as_map() const { return get_or_throw<Map>(storage_, *this, "dict"); }
Map& Value::as_map() { return const_cast<Map&>(std::as_const(*this).as_map()); }
const std::shared_ptr<Object>& Value::as_object() const {
  return get_or_throw<std::shared_ptr<Object>>(storage_, *this, "object");
}

bool Value::truthy() const noexcept {
  struct Visitor {
    bool operator()(None) const { return false; }
    bool operator()(bool b) const { return b; }
    bool operator()(std::int64_t i) const { return i != 0; }
    bool operator()(double d) const { return d != 0.0; }
    bool operator()(const std::string& s) const { return !s.empty(); }
    bool operator()(const Bytes& b) const { return !b.empty(); }
    bool operator()(const List& l) const { return !l.empty(); }
    bool operator()(const Map& m) const { return !m.empty(); }
    bool operator()(const std::shared_ptr<Object>& o) const { return o != nullptr; }
  };
  return std::visit(Visitor{}, storage_);
}

std::string Value::type_name() const {
  struct Visitor {
    std::string operator()(None) const { return "NoneType"; }
    std::string operator()(bool) const { return "bool"; }
    std::string operator()(std::int64_t) const { return "int"; }
    std::string operator()(double) const { return "float"; }
    std::string operator()(const std::string&) const { return "str"; }
    std::string operator()(const Bytes&) const { return "bytes"; }
    std::string operator()(const List&) const { return "list"; }
    std::string operator()(const Map&) const { return "dict"; }
    std::string operator()(const std::shared_ptr<Object>& o) const {
      return o ? o->type_name() : "NoneType";
    }
  };
  return std::visit(Visitor{}, storage_);
}

bool operator==(const Value& a, const Value& b) {
  // Numbers compare by value across integer and floating point, as callers expect.
  if (a.is_number() && b.is_number() && a.is_int() != b.is_int()) {
    return a.as_double() == b.as_double();
  }
  return a.storage_ == b.storage_;
}

void reject_supplied_names(const Options& options, std::initializer_list<std::string_view> names,
                           std::string_view function) {
  for (std::string_view name : names) {
    if (options.contains(name)) {
      throw TypeError(
          fmt::format("{}() got multiple values for keyword argument '{}'", function, name));
    }
  }
}

// ---- repr ---------------------------------------------------------------------------------

namespace {

void append_escaped(std::string& out, unsigned char c, char quote) {
  switch (c) {
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  if (c == static_cast<unsigned char>(quote)) {
    out += '\\';
    out += quote;
  } else if (c < 0x20 || c == 0x7f) {
    out += fmt::format("\\x{:02x}", c);
  } else {
    out += static_cast<char>(c);
  }
}

// Shown as itself in a debug form: every character but controls, format characters, separators
// other than the ASCII space, surrogates, private-use and unassigned code points.
bool is_printable(UChar32 c) {
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR: return c == ' ';
    default: return true;
  }
}

std::string repr_float(double d) {
  if (std::isnan(d)) return "nan";
  if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
  std::string text = fmt::format("{}", d);
  if (text.find_first_of(".en") == std::string::npos) text += ".0";
  return text;
}

std::string repr_bytes(const Bytes& bytes) {
  const bool has_single = bytes.view().find('\'') != std::string_view::npos;
  const bool has_double = bytes.view().find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out = "b";
  out += quote;
  for (unsigned char c : bytes.view()) {
    if (c >= 0x80) {
      out += fmt::format("\\x{:02x}", c);
    } else {
      append_escaped(out, c, quote);
    }
  }
  out += quote;
  return out;
}

}  // namespace

std::string repr(std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  std::string out(1, quote);
  const auto length = static_cast<std::int32_t>(text.size());
  for (std::int32_t next = 0; next < length;) {
    const std::int32_t start = next;
    UChar32 c = 0;
    U8_NEXT(text.data(), next, length, c);
    if (c < 0) {
      // Not UTF-8: each byte of the broken sequence is shown as it is.
      for (std::int32_t i = start; i < next; ++i)
        out += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[i]));
    } else if (c < 0x80) {
      append_escaped(out, static_cast<unsigned char>(c), quote);
    } else if (is_printable(c)) {
      out.append(text.substr(start, next - start));
    } else if (c <= 0xff) {
      out += fmt::format("\\x{:02x}", c);
    } else if (c <= 0xffff) {
      out += fmt::format("\\u{:04x}", c);
    } else {
      out += fmt::format("\\U{:08x}", c);
    }
  }
  out += quote;
  return out;
}

std::string repr(const Value& value) {
  struct Visitor {
    std::string operator()(None) const { return "None"; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return repr_float(d); }
    std::string operator()(const std::string& s) const { return repr(std::string_view(s)); }
    std::string operator()(const Bytes& b) const { return repr_bytes(b); }
    std::string operator()(const List& l) const {
      std::string out = "[";
      for (std::size_t i = 0; i < l.size(); ++i) {
        if (i) out += ", ";
        out += repr(l[i]);
      }
      return out + "]";
    }
    std::string operator()(const Map& m) const {
      std::string out = "{";
      bool first = true;
      m.for_each([&](const std::string& key, const Value& v) {
        if (!first) out += ", ";
        first = false;
        out += repr(std::string_view(key)) + ": " + repr(v);
      });
      return out + "}";
    }
    std::string operator()(const std::shared_ptr<Object>& o) const {
      return o ? "<" + o->type_name() + " object>" : "None";
    }
  };
  return std::visit(Visitor{}, value.storage());
}

// ---- JSON text ----------------------------------------------------------------------------

std::string to_json(const Value& value, int indent) { return to_ordered_json(value).dump(indent); }

Value from_json(std::string_view text, std::string_view source) {
  try {
    return from_ordered_json(clients::common::parse_json<nlohmann::ordered_json>(text, source));
  } catch (const nlohmann::json::exception& error) {
    throw ValueError(error.what());
  }
}

}  // namespace qorl_core
