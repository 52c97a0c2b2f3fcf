// Dynamic values: what a caller may pass where a kind is only known at run time (sources,
// extra named options, JSON answers).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qorl_core {

class Value;

// Raw binary content; a kind of its own so it is never mistaken for text.
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string data) : data_(std::move(data)) {}
  Bytes(const void* data, std::size_t size) : data_(static_cast<const char*>(data), size) {}

  const std::string& str() const noexcept { return data_; }
  std::string& str() noexcept { return data_; }
  std::string_view view() const noexcept { return data_; }
  const unsigned char* data() const noexcept {
    return reinterpret_cast<const unsigned char*>(data_.data());
  }
  std::size_t size() const noexcept { return data_.size(); }
  bool empty() const noexcept { return data_.empty(); }

  friend bool operator==(const Bytes&, const Bytes&) = default;

 private:
  std::string data_;
};

// Base of host objects a Value can carry (attachments, records, event emitters).
class Object {
 public:
  virtual ~Object() = default;
  // The kind's name as shown in debug forms and type messages.
  virtual std::string type_name() const = 0;
};

// Insertion-ordered, string-keyed map of values. Keys are unique; setting an existing key keeps
// its position.
class Map {
 public:
  using value_type = std::pair<std::string, Value>;

  Map() = default;
  Map(std::initializer_list<std::pair<std::string, Value>> entries);

  std::size_t size() const noexcept { return keys_.size(); }
  bool empty() const noexcept { return keys_.empty(); }
  bool contains(std::string_view key) const noexcept;

  // The value under key, or nullptr.
  const Value* find(std::string_view key) const noexcept;
  Value* find(std::string_view key) noexcept;
  // The value under key; KeyError when absent.
  const Value& at(std::string_view key) const;
  // The value under key, or `fallback` when absent.
  Value get(std::string_view key, const Value& fallback) const;

  void set(std::string key, Value value);
  Value& operator[](std::string_view key);
  bool erase(std::string_view key);

  const std::vector<std::string>& keys() const noexcept { return keys_; }
  const std::vector<Value>& values() const noexcept { return values_; }

  // Iterates (key, value) pairs in insertion order.
  template <typename F>
  void for_each(F&& f) const {
    for (std::size_t i = 0; i < keys_.size(); ++i) f(keys_[i], values_[i]);
  }

  friend bool operator==(const Map& a, const Map& b);

 private:
  std::optional<std::size_t> index_of(std::string_view key) const noexcept;

  std::vector<std::string> keys_;
  std::vector<Value> values_;
};

using List = std::vector<Value>;
// Named options: forwarded unchanged from callers to frames and records.
using Options = Map;

struct None {
  friend bool operator==(None, None) { return true; }
};

class Value {
 public:
  using Storage = std::variant<None, bool, std::int64_t, double, std::string, Bytes, List, Map,
                               std::shared_ptr<Object>>;

  Value() = default;
  Value(None) {}
  Value(std::nullptr_t) {}
  Value(bool b) : storage_(b) {}
  Value(int i) : storage_(static_cast<std::int64_t>(i)) {}
  Value(long i) : storage_(static_cast<std::int64_t>(i)) {}
  Value(long long i) : storage_(static_cast<std::int64_t>(i)) {}
  Value(unsigned i) : storage_(static_cast<std::int64_t>(i)) {}
  Value(unsigned long i) : storage_(static_cast<std::int64_t>(i)) {}
  Value(double d) : storage_(d) {}
  Value(std::string s) : storage_(std::move(s)) {}
  Value(std::string_view s) : storage_(std::string(s)) {}
  Value(const char* s) : storage_(std::string(s)) {}
  Value(Bytes b) : storage_(std::move(b)) {}
  Value(List l) : storage_(std::move(l)) {}
  Value(Map m) : storage_(std::move(m)) {}
  template <typename T>
  requires std::is_base_of_v<Object, T> Value(std::shared_ptr<T> object)
      : storage_(std::shared_ptr<Object>(std::move(object))) {}
  template <typename T>
  Value(std::optional<T> maybe) {
    if (maybe) *this = Value(std::move(*maybe));
  }

  bool is_none() const noexcept { return std::holds_alternative<None>(storage_); }
  bool is_bool() const noexcept { return std::holds_alternative<bool>(storage_); }
  bool is_int() const noexcept { return std::holds_alternative<std::int64_t>(storage_); }
  bool is_double() const noexcept { return std::holds_alternative<double>(storage_); }
  bool is_number() const noexcept { return is_int() || is_double(); }
  bool is_string() const noexcept { return std::holds_alternative<std::string>(storage_); }
  bool is_bytes() const noexcept { return std::holds_alternative<Bytes>(storage_); }
  bool is_list() const noexcept { return std::holds_alternative<List>(storage_); }
  bool is_map() const noexcept { return std::holds_alternative<Map>(storage_); }
  bool is_object() const noexcept {
    return std::holds_alternative<std::shared_ptr<Object>>(storage_);
  }

  // Typed access; TypeError naming the actual kind when the value holds another kind.
  bool as_bool() const;
  std::int64_t as_int() const;
  double as_double() const;  // integers widen
  const std::string& as_string() const;
  const Bytes& as_bytes() const;
  const List& as_list() const;
  List& as_list();
  const Map& as_map() const;
  Map& as_map();
  const std::shared_ptr<Object>& as_object() const;

  // The carried host object as T, or nullptr when the value holds something else.
  template <typename T>
  std::shared_ptr<T> object_as() const {
    if (!is_object()) return nullptr;
    return std::dynamic_pointer_cast<T>(std::get<std::shared_ptr<Object>>(storage_));
  }

  // Truthiness as callers of a dynamic language expect: none, false, 0, empty text/bytes/
  // list/map are false.
  bool truthy() const noexcept;

  // The name of the kind, as in `<class 'str'>`: NoneType, bool, int, float, str, bytes, list,
  // dict, or the object's own type name.
  std::string type_name() const;

  const Storage& storage() const noexcept { return storage_; }

  friend bool operator==(const Value& a, const Value& b);

 private:
  Storage storage_;
};

// A callee whose named argument `name` is supplied by its caller refuses the same name among the
// forwarded options: TypeError "<function>() got multiple values for keyword argument '<name>'".
void reject_supplied_names(const Options& options, std::initializer_list<std::string_view> names,
                           std::string_view function);

// Debug form of a value: texts quoted with escapes ('a.mp3', "it's"), none as None, lists and
// maps in bracketed form, bytes as b'...'.
std::string repr(const Value& value);
std::string repr(std::string_view text);
inline std::string repr(const std::string& text) { return repr(std::string_view(text)); }
inline std::string repr(const char* text) { return repr(std::string_view(text)); }

// JSON conversions (bytes become base64 text on the way out; objects their type name).
std::string to_json(const Value& value, int indent = -1);
// ValueError for malformed JSON; clients::common::JsonTooDeep, naming `source`, for JSON nested
// deeper than clients::common::MAX_JSON_DEPTH.
Value from_json(std::string_view text, std::string_view source = "JSON text");

}  // namespace qorl_core
