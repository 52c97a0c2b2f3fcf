#include "qorl_inference/response_schema.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_inference {

ResponseSchema::ResponseSchema(std::string name, qorl_core::Map json_schema, Parser parser)
    : name_(std::move(name)), json_schema_(std::move(json_schema)), parser_(std::move(parser)) {}

std::shared_ptr<qorl_core::RecordBase> ResponseSchema::parse(const qorl_core::Value& answer) const {
  if (!answer.is_map()) {
    throw qorl_core::ValueError("The structured output for " + name_ +
                                " must be a JSON object, not " + answer.type_name());
  }
  return parser_(answer.as_map());
}

namespace json_schema {

qorl_core::Map text() { return {{"type", "string"}}; }
qorl_core::Map number() { return {{"type", "number"}}; }
qorl_core::Map integer() { return {{"type", "integer"}}; }
qorl_core::Map boolean() { return {{"type", "boolean"}}; }

qorl_core::Map nullable(qorl_core::Map schema) {
  const qorl_core::Value type = schema.get("type", qorl_core::None{});
  schema.set("type", qorl_core::List{type, "null"});
  return schema;
}

qorl_core::Map array(qorl_core::Map items) {
  return {{"type", "array"}, {"items", std::move(items)}};
}

qorl_core::Map object(std::vector<std::pair<std::string, qorl_core::Map>> properties) {
  qorl_core::Map props;
  qorl_core::List required;
  for (auto& [name, schema] : properties) {
    required.emplace_back(name);
    props.set(name, std::move(schema));
  }
  return {{"type", "object"},
          {"properties", std::move(props)},
          {"required", std::move(required)},
          {"additionalProperties", false}};
}

}  // namespace json_schema
}  // namespace qorl_inference
