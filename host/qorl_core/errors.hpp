// The error kinds callers catch by kind; messages are the exact texts of each failure.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorl_core {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message = "") : std::runtime_error(message) {}
};

#define QORL_CORE_ERROR_KIND(Name)                                     \
  class Name : public Error {                                          \
   public:                                                             \
    explicit Name(const std::string& message = "") : Error(message) {} \
  };

QORL_CORE_ERROR_KIND(ValueError)
QORL_CORE_ERROR_KIND(TypeError)
QORL_CORE_ERROR_KIND(NotImplementedError)
QORL_CORE_ERROR_KIND(FileNotFoundError)
QORL_CORE_ERROR_KIND(ImportError)
QORL_CORE_ERROR_KIND(KeyError)
QORL_CORE_ERROR_KIND(AttributeError)
QORL_CORE_ERROR_KIND(IndexError)

#undef QORL_CORE_ERROR_KIND

// Record validation failure: every failing field of one construction, in field order.
class ValidationError : public ValueError {
 public:
  struct FieldError {
    std::string field;
    std::string message;
  };

  ValidationError(std::string record_name, std::vector<FieldError> errors);

  const std::string& record_name() const noexcept { return record_name_; }
  const std::vector<FieldError>& errors() const noexcept { return errors_; }
  // True when one of the failures concerns `field`.
  bool names(const std::string& field) const;

 private:
  std::string record_name_;
  std::vector<FieldError> errors_;
};

// True for the error an asynchronous operation ends with when it is cancelled
// (operation_aborted). Error guards rethrow it instead of absorbing it.
bool is_cancellation(const std::exception& error);

// The message of an error together with the messages of the errors nested in it
// ("outer: inner: innermost"), each left out when the text already says it.
std::string describe(const std::exception& error);
std::string describe(const std::exception_ptr& error);

// Throws `error` with `cause` nested in it (std::throw_with_nested), or alone when `cause` is null.
template <typename Error>
[[noreturn]] void throw_with_cause(Error error, const std::exception_ptr& cause) {
  if (!cause) throw error;
  try {
    std::rethrow_exception(cause);
  } catch (...) {
    std::throw_with_nested(std::move(error));
  }
}

}  // namespace qorl_core
