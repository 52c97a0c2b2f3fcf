#include "qorl_multimodal/modality_transformer/modality_transformer.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_multimodal::modality_transformer::modality_transformer {

boost::asio::awaitable<qorl_core::Value> BaseModalityTransformer::transform(qorl_core::Value,
                                                                            qorl_core::Value,
                                                                            qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

boost::asio::awaitable<qorl_core::Value> BaseModalityTransformer::_run(qorl_core::Options inputs) {
  if (!inputs.contains("source")) {
    throw qorl_core::ValueError(
        "The input kwargs for modality transformer must include a `source` key.");
  }
  qorl_core::Value source = inputs.at("source");
  qorl_core::Value query = inputs.get("query", qorl_core::Value());
  inputs.erase("source");
  inputs.erase("query");
  return transform(std::move(source), std::move(query), std::move(inputs));
}

std::string BaseModalityTransformer::_format_input_event(
    const qorl_core::Options& input_dict) const {
  constexpr std::size_t kLoggedInputLimit = 512;
  const qorl_core::Value loggable =
      qorl_core::redaction::redact_urls(input_dict, kLoggedInputLimit);
  return Component::_format_input_event(loggable.as_map());
}

}  // namespace qorl_multimodal::modality_transformer::modality_transformer
