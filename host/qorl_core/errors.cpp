#include "qorl_core/errors.hpp"

#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>

namespace qorl_core {
namespace {

std::string validation_message(const std::string& record_name,
                               const std::vector<ValidationError::FieldError>& errors) {
  std::string text = std::to_string(errors.size()) + " validation error" +
                     (errors.size() == 1 ? "" : "s") + " for " + record_name;
  for (const auto& error : errors) text += "\n" + error.field + "\n  " + error.message;
  return text;
}

void append_nested(const std::exception& error, std::string& out) {
  try {
    std::rethrow_if_nested(error);
  } catch (const std::exception& inner) {
    // Wrappers often repeat the message of the error they wrap.
    if (const std::string said = inner.what(); out.find(said) == std::string::npos) {
      out += ": ";
      out += said;
    }
    append_nested(inner, out);
  } catch (...) {
  }
}

}  // namespace

ValidationError::ValidationError(std::string record_name, std::vector<FieldError> errors)
    : ValueError(validation_message(record_name, errors)),
      record_name_(std::move(record_name)),
      errors_(std::move(errors)) {}

bool ValidationError::names(const std::string& field) const {
  return std::any_of(errors_.begin(), errors_.end(),
                     [&](const FieldError& e) { return e.field == field; });
}

bool is_cancellation(const std::exception& error) {
  const auto* system_error = dynamic_cast<const boost::system::system_error*>(&error);
  return system_error && system_error->code() == boost::asio::error::operation_aborted;
}

std::string describe(const std::exception& error) {
  std::string out = error.what();
  append_nested(error, out);
  return out;
}

std::string describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return describe(e);
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace qorl_core
