// This module defines a generic modality transformer that converts images into text/bytes.
#pragma once

#include <memory>

#include "qorl_multimodal/modality_transformer/image_modality_transformer/image_modality_transformer.hpp"

namespace qorl_multimodal::modality_transformer::image_modality_transformer::
    generic_image_modality_transformer {

using image_modality_transformer::BaseModalityConverter;

// A generic transformer which uses a single converter to convert images to string/bytes.
class GenericImageModalityTransformer
    : public image_modality_transformer::ImageModalityTransformer {
 public:
  // Initializes the transformer with a modality converter (not checked).
  explicit GenericImageModalityTransformer(std::shared_ptr<BaseModalityConverter> converter)
      : converter(std::move(converter)) {}

  // The converter used to transform images into text or bytes.
  const std::shared_ptr<BaseModalityConverter> converter;

 protected:
  // Converts an image input to output based on specified converter: its `result` text.
  boost::asio::awaitable<qorl_core::Value> _transform(qorl_core::Value source,
                                                      qorl_core::Value query,
                                                      qorl_core::Options options) override {
    return convert_to_text(converter, std::move(source), std::move(query), std::move(options));
  }
};

}  // namespace
   // qorl_multimodal::modality_transformer::image_modality_transformer::generic_image_modality_transformer
