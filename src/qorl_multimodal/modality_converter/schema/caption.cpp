#include "qorl_multimodal/modality_converter/schema/caption.hpp"

#include <optional>

#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"

namespace qorl_multimodal::modality_converter::schema::caption {
namespace {

using constants::CaptionConstants;
using constants::ImageToTextConstants;
using qorl_core::Value;
using qorl_inference::Attachment;

// A caption hint given as none takes its default; anything else is checked as given.
qorl_core::FieldSpec<Caption>::Prepare none_becomes(Value fallback) {
  return [fallback = std::move(fallback)](const Value& value) {
    return value.is_none() ? fallback : value;
  };
}

bool is_attachment_source(const Value& item) {
  return !item.object_as<Attachment>() && !item.is_bytes();
}

}  // namespace

Value normalize_attachments_context(const Value& value) {
  if (value.is_none()) return qorl_core::List{};
  if (!value.is_list()) {
    throw qorl_core::TypeError("Unsupported attachments_context type: <class '" +
                               value.type_name() + "'>");
  }
  qorl_core::List attachments;
  attachments.reserve(value.as_list().size());
  for (const auto& item : value.as_list()) {
    if (item.object_as<Attachment>()) {
      attachments.push_back(item);
    } else if (item.is_bytes()) {
      attachments.push_back(Attachment::from_bytes(item.as_bytes()));
    } else {
      // Only synchronous callers get here (make_caption resolves sources before), so a loop of
      // our own is safe; run_sync refuses a thread that already runs one.
      auto [data, filename] = qorl_core::run_sync(utils::image_utils::get_image_binary(item));
      attachments.push_back(Attachment::from_bytes(std::move(data), std::move(filename)));
    }
  }
  return attachments;
}

boost::asio::awaitable<std::shared_ptr<Caption>> make_caption(qorl_core::Options values) {
  const Value* context = values.find("attachments_context");
  if (!context || !context->is_list()) co_return Caption::make_shared(values);

  qorl_core::List resolved = context->as_list();
  std::optional<std::string> failure;
  try {
    for (Value& item : resolved) {
      if (!is_attachment_source(item)) continue;
      utils::image_utils::ImageBinary image =
          co_await utils::image_utils::get_image_binary(std::move(item));
      item = Value(Attachment::from_bytes(std::move(image.first), std::move(image.second)));
    }
    values.set("attachments_context", std::move(resolved));
  } catch (const qorl_core::ValueError& error) {
    // Reported with the other fields' failures, as the record's own check would.
    failure = error.what();
    values.erase("attachments_context");
  }
  std::vector<qorl_core::ValidationError::FieldError> failures;
  std::shared_ptr<Caption> caption;
  try {
    caption = Caption::make_shared(values);
  } catch (const qorl_core::ValidationError& error) {
    if (!failure) throw;
    failures = error.errors();
  }
  if (failure) {
    // The last field of the record, so its failure comes last.
    failures.push_back({"attachments_context", *failure});
    throw qorl_core::ValidationError(Caption::schema().name, std::move(failures));
  }
  co_return caption;
}

const qorl_core::Schema<Caption>& Caption::schema() {
  using qorl_core::field;
  const Value not_given(ImageToTextConstants::NOT_GIVEN);
  static const qorl_core::Schema<Caption> kSchema{
      "Caption",
      {field("image_one_liner", &Caption::image_one_liner).prepared_by(none_becomes(not_given)),
       field("image_description", &Caption::image_description).prepared_by(none_becomes(not_given)),
       field("domain_knowledge", &Caption::domain_knowledge).prepared_by(none_becomes(not_given)),
       field("number_of_captions", &Caption::number_of_captions)
           .prepared_by(none_becomes(CaptionConstants::DEFAULT_NUMBER_OF_CAPTIONS)),
       field("language", &Caption::language).prepared_by(none_becomes(not_given)),
       field("image_metadata", &Caption::image_metadata)
           .prepared_by(none_becomes(qorl_core::Map{})),
       field("attachments_context", &Caption::attachments_context)
           .prepared_by(normalize_attachments_context)}};
  return kSchema;
}

}  // namespace qorl_multimodal::modality_converter::schema::caption
