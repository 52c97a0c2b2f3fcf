// Parsing JSON that comes from outside (service answers, model output, key files) with a bound
// on nesting: deeper documents are refused before anything walks them recursively.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>

#include "clients/common/service_error.hpp"

namespace clients::common {

// Deep enough for any real answer; far below what a recursive walk of the stack can take.
inline constexpr int MAX_JSON_DEPTH = 512;

// A document nested deeper than MAX_JSON_DEPTH; the message names the service that sent it.
class JsonTooDeep : public ServiceError {
 public:
  explicit JsonTooDeep(std::string_view service);
};

// `text` as JSON. Throws nlohmann::json::parse_error when it is malformed and JsonTooDeep when
// it nests deeper than MAX_JSON_DEPTH. `service` names the sender in the error ("Gemini").
template <typename Json = nlohmann::json>
Json parse_json(std::string_view text, std::string_view service);

// As parse_json, but malformed text gives a discarded value; a document nested too deep still
// throws JsonTooDeep.
template <typename Json = nlohmann::json>
Json parse_json_or_discarded(std::string_view text, std::string_view service);

}  // namespace clients::common
