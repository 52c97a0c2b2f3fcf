// The caption context record: what a caller knows about an image and wants from a captioner.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qorl_core/record.hpp"
#include "qorl_inference/attachment.hpp"
#include "qorl_multimodal/constants.hpp"

namespace qorl_multimodal::modality_converter::schema::caption {

struct Caption : qorl_core::Record<Caption> {
  std::string image_one_liner{constants::ImageToTextConstants::NOT_GIVEN};
  std::string image_description{constants::ImageToTextConstants::NOT_GIVEN};
  std::string domain_knowledge{constants::ImageToTextConstants::NOT_GIVEN};
  std::int64_t number_of_captions = constants::CaptionConstants::DEFAULT_NUMBER_OF_CAPTIONS;
  std::string language = "Indonesian";
  qorl_core::Map image_metadata;
  std::vector<std::shared_ptr<qorl_inference::Attachment>> attachments_context;

  static const qorl_core::Schema<Caption>& schema();
};

// Normalize and validate `attachments_context`: none gives an empty list; a list keeps its
// attachments, turns bytes into attachments and resolves any other item as an image source,
// one after another on a fresh event loop, blocking the calling thread (so never from a thread
// running a loop: use make_caption there). TypeError for a value that is not a list; the
// resolver's ValueError for an item that is no image.
qorl_core::Value normalize_attachments_context(const qorl_core::Value& value);

// Caption::make_shared(values), with the image sources among `attachments_context` fetched on
// the caller's loop first. Fails exactly as make_shared would.
[[nodiscard]] boost::asio::awaitable<std::shared_ptr<Caption>> make_caption(
    qorl_core::Options values);

}  // namespace qorl_multimodal::modality_converter::schema::caption
