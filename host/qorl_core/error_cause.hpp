// Finding an error of one kind among the causes a failure carries (std::throw_with_nested).
#pragma once

#include <exception>
#include <optional>

namespace qorl_core {

// A copy of the exception of type E that `error` is or carries as a nested cause, at any depth;
// none when there is no such exception (or no error).
template <typename E>
std::optional<E> find_cause(const std::exception_ptr& error) {
  if (!error) return std::nullopt;
  try {
    std::rethrow_exception(error);
  } catch (const E& found) {
    return found;
  } catch (const std::exception& other) {
    try {
      std::rethrow_if_nested(other);
    } catch (...) {
      return find_cause<E>(std::current_exception());
    }
  } catch (...) {
  }
  return std::nullopt;
}

}  // namespace qorl_core
