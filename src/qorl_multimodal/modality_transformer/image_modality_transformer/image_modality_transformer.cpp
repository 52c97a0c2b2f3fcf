#include "qorl_multimodal/modality_transformer/image_modality_transformer/image_modality_transformer.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    image_modality_transformer {

boost::asio::awaitable<qorl_core::Value> ImageModalityTransformer::transform(
    qorl_core::Value source, qorl_core::Value query, qorl_core::Options options) {
  qorl_core::reject_supplied_names(options, {"source", "query"}, "transform");
  if (!source.is_string() && !source.is_bytes()) {
    throw qorl_core::TypeError("Expected str or bytes, but got " + source.type_name());
  }
  qorl_core::Value result =
      co_await _transform(std::move(source), std::move(query), std::move(options));
  co_return result;
}

boost::asio::awaitable<qorl_core::Value> ImageModalityTransformer::_transform(qorl_core::Value,
                                                                              qorl_core::Value,
                                                                              qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

boost::asio::awaitable<qorl_core::Value> ImageModalityTransformer::convert_to_text(
    std::shared_ptr<BaseModalityConverter> converter, qorl_core::Value source,
    qorl_core::Value query, qorl_core::Options options) {
  if (!converter) {
    throw qorl_core::AttributeError("'NoneType' object has no attribute 'convert'");
  }
  qorl_core::Options named{{"query", std::move(query)}};
  options.for_each(
      [&](const std::string& name, const qorl_core::Value& value) { named.set(name, value); });
  auto text_result = co_await converter->convert(std::move(source), std::move(named));
  co_return qorl_core::Value(std::move(text_result.result));
}

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::image_modality_transformer
