#include "qorl_multimodal/modality_converter/modality_converter.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::modality_converter::modality_converter {

boost::asio::awaitable<TextResult> BaseModalityConverter::convert(qorl_core::Value,
                                                                  qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

}  // namespace qorl_multimodal::modality_converter::modality_converter
