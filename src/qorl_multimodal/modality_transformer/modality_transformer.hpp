// Base any modality transformer.
#pragma once

#include <boost/asio/awaitable.hpp>

#include "qorl_core/component.hpp"
#include "qorl_core/value.hpp"

namespace qorl_multimodal::modality_transformer::modality_transformer {

// An abstract base class for the modality transformers used in Gen AI applications: a host
// component whose run transforms one source, with an optional query, into text or bytes.
class BaseModalityTransformer : public qorl_core::Component<qorl_core::Value> {
 public:
  // Transforms `source` (text or bytes); `query` (text or none) is additional information for
  // the transformation, `options` are additional args for the transformer. The frame's own body
  // throws NotImplementedError.
  virtual boost::asio::awaitable<qorl_core::Value> transform(qorl_core::Value source,
                                                             qorl_core::Value query = {},
                                                             qorl_core::Options options = {}) = 0;

 protected:
  // Executes the query transformation process: the inputs must hold `source` (none or empty
  // counts) and all of them reach `transform` by name. ValueError otherwise.
  boost::asio::awaitable<qorl_core::Value> _run(qorl_core::Options inputs) override;
  // The inputs as they may be logged: URLs without their secrets, long sources cut short.
  std::string _format_input_event(const qorl_core::Options& input_dict) const override;
};

}  // namespace qorl_multimodal::modality_transformer::modality_transformer
