#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/image_to_mermaid.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::image_to_mermaid {

boost::asio::awaitable<TextResult> BaseImageToMermaid::_convert(qorl_core::Bytes image_binary,
                                                                std::string filename,
                                                                qorl_core::Options options) {
  // The frame passes the file name by name; here it is one of the options like any other.
  options.set("filename", std::move(filename));
  auto mermaid_metadata = Mermaid::make_shared(options);

  qorl_core::reject_supplied_names(options, {"image_binary", "mermaid_data"}, "_get_mermaid");
  std::string mermaid_syntax =
      co_await _get_mermaid(std::move(image_binary), mermaid_metadata, std::move(options));

  auto result =
      TextResult::from_options({{"result", std::move(mermaid_syntax)}, {"tag", "mermaid"}});
  result.metadata = mermaid_metadata;
  co_return result;
}

boost::asio::awaitable<std::string> BaseImageToMermaid::_get_mermaid(qorl_core::Bytes,
                                                                     std::shared_ptr<Mermaid>,
                                                                     qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::image_to_mermaid
