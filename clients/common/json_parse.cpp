#include "clients/common/json_parse.hpp"

#include <nlohmann/json.hpp>

namespace clients::common {
namespace {

template <typename Json>
Json parse(std::string_view text, std::string_view service, bool allow_exceptions) {
  // The parser itself is iterative; the limit protects whatever walks the result afterwards.
  const typename Json::parser_callback_t guard =
      [service](int depth, nlohmann::json::parse_event_t event, Json&) {
        const bool opens = event == nlohmann::json::parse_event_t::object_start ||
                           event == nlohmann::json::parse_event_t::array_start;
        if (opens && depth >= MAX_JSON_DEPTH) throw JsonTooDeep(service);
        return true;
      };
  return Json::parse(text.begin(), text.end(), guard, allow_exceptions);
}

}  // namespace

JsonTooDeep::JsonTooDeep(std::string_view service)
    : ServiceError(std::string(service) + " sent JSON nested deeper than " +
                       std::to_string(MAX_JSON_DEPTH) + " levels; refused",
                   {std::string(service)}) {}

template <typename Json>
Json parse_json(std::string_view text, std::string_view service) {
  return parse<Json>(text, service, true);
}

template <typename Json>
Json parse_json_or_discarded(std::string_view text, std::string_view service) {
  return parse<Json>(text, service, false);
}

template nlohmann::json parse_json(std::string_view, std::string_view);
template nlohmann::ordered_json parse_json(std::string_view, std::string_view);
template nlohmann::json parse_json_or_discarded(std::string_view, std::string_view);
template nlohmann::ordered_json parse_json_or_discarded(std::string_view, std::string_view);

}  // namespace clients::common
