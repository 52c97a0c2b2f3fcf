// The error answer most JSON APIs share: {"error": {"message": ..., "status"/"code"/"type": ...}}
// (Google, OpenAI and the OpenAI-compatible servers), or {"error": "..."}.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

namespace clients::common {

struct ErrorAnswer {
  // error.message, or error itself when it is text; none when the answer has neither.
  std::optional<std::string> message;
  // The service's own code: error.status (Google's status name), else error.code (text or
  // number), else error.type (OpenAI); empty when there is none.
  std::string code;
};

// Reads `answer`, which may be of any JSON type (a discarded parse included).
ErrorAnswer read_error_answer(const nlohmann::json& answer);

}  // namespace clients::common
