#include "qorl_multimodal/modality_transformer/modality_transformer.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_multimodal::modality_transformer::modality_transformer {

boost::asio::awaitable<qorl_core::Value> BaseModalityTransformer::transform(qorl_core::Value,
                                                                            qorl_core::Value,
                                                                            qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

boost::asio::awaitable<qorl_core::Value> BaseModalityTransformer::_run(
    const qorl_core::Options& inputs) {
  if (!inputs.contains("source")) {
    throw qorl_core::ValueError(
        "The input kwargs for modality transformer must include a `source` key.");
  }
  // Copied out here: nothing may refer to `inputs` once `transform` suspends.
  qorl_core::Options options = inputs;
  qorl_core::Value source = options.at("source");
  qorl_core::Value query = options.get("query", qorl_core::Value());
  options.erase("source");
  options.erase("query");
  return transform(std::move(source), std::move(query), std::move(options));
}

std::string BaseModalityTransformer::_format_input_event(
    const qorl_core::Options& input_dict) const {
  constexpr std::size_t kLoggedInputLimit = 512;
  const qorl_core::Value loggable =
      qorl_core::redaction::redact_urls(input_dict, kLoggedInputLimit);
  return Component::_format_input_event(loggable.as_map());
}

}  // namespace qorl_multimodal::modality_transformer::modality_transformer
