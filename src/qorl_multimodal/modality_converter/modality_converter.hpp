// An abstract base class for modality conversion used in Gen AI applications.
#pragma once

#include <boost/asio/awaitable.hpp>

#include "qorl_core/blocking_work.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/text_result.hpp"

namespace qorl_multimodal::modality_converter::modality_converter {

using schema::text_result::TextResult;

class BaseModalityConverter : public qorl_core::BlockingWork {
 public:
  BaseModalityConverter() = default;
  virtual ~BaseModalityConverter() = default;

  // Validates `source` (text or bytes) before any work, then converts it. `options` are the
  // caller's extra named options, forwarded unchanged.
  virtual boost::asio::awaitable<TextResult> convert(qorl_core::Value source,
                                                     qorl_core::Options options = {}) = 0;

 protected:
  // The logger named after this object's concrete class.
  qorl_core::Logger& _logger() const { return logger_.get(typeid(*this)); }

 private:
  qorl_core::ClassNamedLogger logger_;
};

}  // namespace qorl_multimodal::modality_converter::modality_converter
