// Conversions between dynamic values and nlohmann's order-keeping JSON.
#pragma once

#include <nlohmann/json.hpp>

#include "qorl_core/value.hpp"

namespace qorl_core {

// Bytes become base64 text; records become their field maps; other host objects their type name.
nlohmann::ordered_json to_ordered_json(const Value& value);
// ValueError for arrays and objects nested deeper than clients::common::MAX_JSON_DEPTH.
Value from_ordered_json(const nlohmann::ordered_json& json);

}  // namespace qorl_core
