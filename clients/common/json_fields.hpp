// Reading the services' JSON answers into typed structs: one type check per C++ type, the
// lenient read their own clients do, where a missing member or one of another type reads as the
// default, and a strict read for answers whose types matter.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace clients::common {

template <typename T>
struct is_vector : std::false_type {};
template <typename T>
struct is_vector<std::vector<T>> : std::true_type {};

// Whether `value` has the JSON type that T is read from; any other type is read through its
// own from_json and so must be an object.
template <typename T>
bool holds(const nlohmann::json& value) {
  if constexpr (std::is_same_v<T, std::string>) {
    return value.is_string();
  } else if constexpr (std::is_same_v<T, bool>) {
    return value.is_boolean();
  } else if constexpr (std::is_integral_v<T>) {
    return value.is_number_integer();
  } else if constexpr (std::is_floating_point_v<T>) {
    return value.is_number();
  } else if constexpr (is_vector<T>::value) {
    return value.is_array();
  } else {
    return value.is_object();
  }
}

// The JSON type that T is read from, as a strict read's error names it.
template <typename T>
constexpr std::string_view json_kind() {
  if constexpr (std::is_same_v<T, std::string>) {
    return "a text";
  } else if constexpr (std::is_same_v<T, bool>) {
    return "a boolean";
  } else if constexpr (std::is_integral_v<T>) {
    return "an integer";
  } else if constexpr (std::is_floating_point_v<T>) {
    return "a number";
  } else if constexpr (is_vector<T>::value) {
    return "a list";
  } else {
    return "an object";
  }
}

// A member of another JSON type than a strict read asked for: "field '<key>' is not a number:
// <its JSON>". Callers turn it into their own service's error.
class FieldTypeError : public std::runtime_error {
 public:
  FieldTypeError(std::string key, nlohmann::json value, std::string_view expected)
      : std::runtime_error("field '" + key + "' is not " + std::string(expected) + ": " +
                           value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)),
        key_(std::move(key)),
        value_(std::move(value)) {}

  const std::string& key() const noexcept { return key_; }
  const nlohmann::json& value() const noexcept { return value_; }

 private:
  std::string key_;
  nlohmann::json value_;
};

// The member at `path` (each step a key of an object) when it holds a T; none when a step is
// missing or not an object, or the member has another type.
template <typename T>
std::optional<T> optional_field(const nlohmann::json& value,
                                std::initializer_list<std::string_view> path) {
  const nlohmann::json* node = &value;
  for (const std::string_view key : path) {
    if (!node->is_object()) return std::nullopt;
    const auto it = node->find(key);
    if (it == node->end()) return std::nullopt;
    node = &*it;
  }
  if (!holds<T>(*node)) return std::nullopt;
  return node->template get<T>();
}

template <typename T>
std::optional<T> optional_field(const nlohmann::json& value, std::string_view key) {
  return optional_field<T>(value, {key});
}

// The member at `path` as optional_field finds it, else `fallback`.
template <typename T>
T field_or(const nlohmann::json& value, std::initializer_list<std::string_view> path,
           T fallback = T{}) {
  return optional_field<T>(value, path).value_or(std::move(fallback));
}

template <typename T>
T field_or(const nlohmann::json& value, std::string_view key, T fallback = T{}) {
  return optional_field<T>(value, {key}).value_or(std::move(fallback));
}

// The member `key` of `object` (each element read through its own from_json), strictly: none
// when it is missing or null, FieldTypeError when it holds another type than T's.
template <typename T>
std::optional<T> nullable_field(const nlohmann::json& object, std::string_view key) {
  const auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  if (!holds<T>(*it)) throw FieldTypeError(std::string(key), *it, json_kind<T>());
  return it->template get<T>();
}

// The member `key` as nullable_field reads it, else `fallback`.
template <typename T>
T nullable_field_or(const nlohmann::json& object, std::string_view key, T fallback = T{}) {
  return nullable_field<T>(object, key).value_or(std::move(fallback));
}

}  // namespace clients::common
