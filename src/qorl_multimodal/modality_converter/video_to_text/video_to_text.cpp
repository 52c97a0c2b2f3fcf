#include "qorl_multimodal/modality_converter/video_to_text/video_to_text.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/text.hpp"
#include "qorl_inference/attachment.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_text {

boost::asio::awaitable<TextResult> BaseVideoToText::convert(qorl_core::Value source,
                                                            qorl_core::Options options) {
  if (!source.is_string() && !source.is_bytes()) {
    throw qorl_core::TypeError("The `source` must be of type `str` or `bytes`.");
  }
  if ((source.is_bytes() && source.as_bytes().empty()) ||
      (source.is_string() && qorl_core::is_blank(source.as_string()))) {
    throw qorl_core::ValueError("The `source` cannot be empty.");
  }
  if (source.is_bytes()) source = qorl_inference::Attachment::from_bytes(source.as_bytes());
  co_return co_await _convert(std::move(source), std::move(options));
}

std::unique_ptr<BaseVideoToText> BaseVideoToText::from_preset(const std::optional<std::string>&,
                                                              const qorl_core::Options&) {
  throw qorl_core::NotImplementedError();
}

boost::asio::awaitable<TextResult> BaseVideoToText::_convert(qorl_core::Value, qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

}  // namespace qorl_multimodal::modality_converter::video_to_text::video_to_text
