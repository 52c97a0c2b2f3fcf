// Base image modality transformer.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/modality_converter.hpp"
#include "qorl_multimodal/modality_transformer/modality_transformer.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    image_modality_transformer {

using modality_converter::modality_converter::BaseModalityConverter;

// Abstract base class for transforming image modality inputs into a textual representation,
// like a query transformer specialized for image inputs.
class ImageModalityTransformer : public modality_transformer::BaseModalityTransformer {
 public:
  // TypeError "Expected str or bytes, but got <kind>" for a source of another kind, and for
  // options repeating `source` or `query`; otherwise the result of `_transform`.
  boost::asio::awaitable<qorl_core::Value> transform(qorl_core::Value source,
                                                     qorl_core::Value query = {},
                                                     qorl_core::Options options = {}) override;

 protected:
  // The textual representation of the image `source` (bytes, or a path, URL or other location
  // the converters understand); `options` are for the converter. The frame's own body throws
  // NotImplementedError.
  virtual boost::asio::awaitable<qorl_core::Value> _transform(qorl_core::Value source,
                                                              qorl_core::Value query,
                                                              qorl_core::Options options) = 0;

  // The `result` text of `converter`'s conversion of `source`, given `query` by name and the
  // options after it. AttributeError when there is no converter.
  static boost::asio::awaitable<qorl_core::Value> convert_to_text(
      std::shared_ptr<BaseModalityConverter> converter, qorl_core::Value source,
      qorl_core::Value query, qorl_core::Options options);
};

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::image_modality_transformer
