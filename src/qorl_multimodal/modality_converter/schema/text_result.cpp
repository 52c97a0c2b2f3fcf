#include "qorl_multimodal/modality_converter/schema/text_result.hpp"

namespace qorl_multimodal::modality_converter::schema::text_result {
namespace {

qorl_core::Value check_metadata(const qorl_core::Value& value) {
  if (value.is_none() || value.is_map() || value.object_as<qorl_core::RecordBase>()) return value;
  throw qorl_core::FieldFailure("Input should be a valid dictionary, a record or None");
}

}  // namespace

const qorl_core::Schema<TextResult>& TextResult::schema() {
  static const qorl_core::Schema<TextResult> kSchema{
      "TextResult",
      {qorl_core::field("result", &TextResult::result).required(),
       qorl_core::field("tag", &TextResult::tag).required(),
       qorl_core::field("metadata", &TextResult::metadata).prepared_by(check_metadata)}};
  return kSchema;
}

}  // namespace qorl_multimodal::modality_converter::schema::text_result
