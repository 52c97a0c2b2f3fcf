#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/image_to_caption.hpp"

#include "qorl_core/blocking_work.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_multimodal/utils/image_metadata_utils.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::image_to_caption {

boost::asio::awaitable<TextResult> BaseImageToCaption::_convert(qorl_core::Bytes image_binary,
                                                                std::string filename,
                                                                qorl_core::Options options) {
  const bool use_metadata = options.get("use_metadata", true).truthy();
  const bool delete_attachments_context = options.get("delete_attachments_context", true).truthy();

  // EXIF parsing of a large photo takes milliseconds: off the loop when a pool is set.
  qorl_core::Map metadata;
  if (use_metadata) {
    metadata = co_await qorl_core::run_blocking(
        [&image_binary] { return utils::image_metadata_utils::get_image_metadata(image_binary); });
  }
  qorl_core::reject_supplied_names(options, {"image_metadata"}, "Caption");
  qorl_core::Options record_values = options;
  record_values.set("image_metadata", std::move(metadata));
  std::shared_ptr<Caption> caption_data =
      co_await schema::caption::make_caption(std::move(record_values));

  qorl_core::reject_supplied_names(options, {"image_binary", "filename", "caption_data"},
                                   "_get_captions");
  const auto captions =
      co_await _get_captions(std::move(image_binary), std::move(filename), caption_data, options);

  const auto cleaned_captions = utils::image_utils::get_unique_non_empty_strings(captions);
  caption_data->number_of_captions = static_cast<std::int64_t>(cleaned_captions.size());
  if (delete_attachments_context) caption_data->attachments_context.clear();

  auto result = TextResult::from_options(
      {{"result", utils::image_utils::combine_strings(cleaned_captions)}, {"tag", "caption"}});
  result.metadata = caption_data;
  co_return result;
}

boost::asio::awaitable<std::vector<std::string>> BaseImageToCaption::_get_captions(
    qorl_core::Bytes, std::string, std::shared_ptr<Caption>, qorl_core::Options) {
  throw qorl_core::NotImplementedError();
}

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::image_to_caption
