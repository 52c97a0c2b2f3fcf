// Structured output: the record type a model's answer is parsed into, with the JSON Schema
// that describes the record to the model.
//
//   auto schema = qorl_inference::ResponseSchema::of<Point>(json_schema::object({
//       {"x", json_schema::number()},
//       {"label", json_schema::nullable(json_schema::text())}}));
//
// The description is plain JSON Schema (lower-case types; `nullable` gives a type list with
// "null"); each invoker turns it into its service's dialect.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "qorl_core/record.hpp"
#include "qorl_core/value.hpp"

namespace qorl_inference {

class ResponseSchema : public qorl_core::Object {
 public:
  using Parser = std::function<std::shared_ptr<qorl_core::RecordBase>(const qorl_core::Map&)>;

  ResponseSchema(std::string name, qorl_core::Map json_schema, Parser parser);

  template <typename R>
  static std::shared_ptr<ResponseSchema> of(qorl_core::Map json_schema) {
    return std::make_shared<ResponseSchema>(
        R::schema().name, std::move(json_schema),
        [](const qorl_core::Map& fields) -> std::shared_ptr<qorl_core::RecordBase> {
          return R::make_shared(fields);
        });
  }

  const std::string& name() const noexcept { return name_; }
  const qorl_core::Map& json_schema() const noexcept { return json_schema_; }

  // The answer as the record; ValueError when it is not a JSON object, the record's
  // ValidationError when its fields do not fit.
  std::shared_ptr<qorl_core::RecordBase> parse(const qorl_core::Value& answer) const;

  std::string type_name() const override { return "ResponseSchema"; }

 private:
  std::string name_;
  qorl_core::Map json_schema_;
  Parser parser_;
};

// Builders of JSON Schema descriptions.
namespace json_schema {

qorl_core::Map text();
qorl_core::Map number();
qorl_core::Map integer();
qorl_core::Map boolean();
// `schema` that also admits null.
qorl_core::Map nullable(qorl_core::Map schema);
qorl_core::Map array(qorl_core::Map items);
// An object with these properties, in this order, all required, no others.
qorl_core::Map object(std::vector<std::pair<std::string, qorl_core::Map>> properties);

}  // namespace json_schema

}  // namespace qorl_inference
