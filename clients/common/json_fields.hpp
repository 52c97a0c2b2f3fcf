// Reading the services' JSON answers into typed structs: one type check per C++ type, and the
// lenient read their own clients do, where a missing member or one of another type reads as the
// default.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

}  // namespace clients::common
