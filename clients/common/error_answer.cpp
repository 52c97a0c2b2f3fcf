#include "clients/common/error_answer.hpp"

#include <nlohmann/json.hpp>

#include "clients/common/json_fields.hpp"

namespace clients::common {

ErrorAnswer read_error_answer(const nlohmann::json& answer) {
  ErrorAnswer read;
  read.message = optional_field<std::string>(answer, {"error", "message"});
  if (!read.message) read.message = optional_field<std::string>(answer, "error");
  for (const char* key : {"status", "code", "type"}) {
    if (auto text = optional_field<std::string>(answer, {"error", key})) {
      read.code = std::move(*text);
    } else if (auto number = optional_field<std::int64_t>(answer, {"error", key})) {
      read.code = std::to_string(*number);
    }
    if (!read.code.empty()) break;
  }
  return read;
}

}  // namespace clients::common
