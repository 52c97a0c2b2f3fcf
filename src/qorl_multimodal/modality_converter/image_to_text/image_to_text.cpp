#include "qorl_multimodal/modality_converter/image_to_text/image_to_text.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/text.hpp"
#include "qorl_inference/event_emitter.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_text {

boost::asio::awaitable<TextResult> BaseImageToText::convert(qorl_core::Value source,
                                                            qorl_core::Options options) {
  if (!source.is_string() && !source.is_bytes()) {
    throw qorl_core::TypeError("The `source` must be of type `str` or `bytes`.");
  }
  if (source.is_string() && qorl_core::is_blank(source.as_string())) {
    throw qorl_core::ValueError("The `source` cannot be an empty string.");
  }
  std::optional<utils::image_utils::ImageBinary> image;
  try {
    image = co_await utils::image_utils::get_image_binary(std::move(source));
  } catch (const qorl_core::ValueError& error) {
    _logger().error(std::string("Error getting image binary: ") + error.what());
    // The result is empty; whoever watches the conversion learns why.
    if (auto watcher = qorl_inference::EventEmitter::from_value(options.get("event_emitter", {}))) {
      watcher->emit_error(std::current_exception());
    }
  }
  if (!image) co_return TextResult::from_options({{"result", ""}, {"tag", ""}});
  qorl_core::reject_supplied_names(options, {"filename"}, "_convert");
  co_return co_await _convert(std::move(image->first), std::move(image->second),
                              std::move(options));
}

boost::asio::awaitable<TextResult> BaseImageToText::_convert(qorl_core::Bytes, std::string,
                                                             qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

}  // namespace qorl_multimodal::modality_converter::image_to_text::image_to_text
