#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/image_to_caption.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "testing/media.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::image_to_caption {
namespace {

using qorl_core::Bytes;
using qorl_core::List;
using qorl_core::Options;

static_assert(std::is_abstract_v<BaseImageToCaption>);

class ScriptedCaptioner : public BaseImageToCaption {
 public:
  std::vector<std::string> answer{"A", "", "A", "  ", "B"};
  std::shared_ptr<Caption> seen_caption;
  std::size_t seen_attachments = 0;
  Options seen_options;

 protected:
  boost::asio::awaitable<std::vector<std::string>> _get_captions(
      Bytes, std::string, std::shared_ptr<Caption> caption_data, Options options) override {
    seen_caption = caption_data;
    seen_attachments = caption_data->attachments_context.size();
    seen_options = std::move(options);
    co_return answer;
  }
};

const Bytes& gps_jpeg() {
  static const Bytes image =
      qorl_testing::with_exif(qorl_testing::encode_image(".jpg"), qorl_testing::kSanFranciscoGps);
  return image;
}

TEST(BaseImageToCaptionTest, CleansCaptionsAndCountsThem) {
  ScriptedCaptioner captioner;
  const auto result =
      qorl_core::run_sync(captioner.convert(gps_jpeg(), {{"number_of_captions", 5}, {"extra", 1}}));
  EXPECT_EQ(result.result, "A\nB");
  EXPECT_EQ(result.tag, "caption");
  auto caption = result.metadata.object_as<Caption>();
  ASSERT_TRUE(caption);
  EXPECT_EQ(caption->number_of_captions, 2);
  EXPECT_DOUBLE_EQ(caption->image_metadata.at("latitude").as_double(), 37.775);
  EXPECT_EQ(captioner.seen_options, (Options{{"number_of_captions", 5}, {"extra", 1}}));
}

TEST(BaseImageToCaptionTest, MetadataAndAttachmentOptions) {
  ScriptedCaptioner captioner;
  const List context{qorl_testing::encode_image(".png")};
  auto result = qorl_core::run_sync(
      captioner.convert(gps_jpeg(), {{"use_metadata", false}, {"attachments_context", context}}));
  auto caption = result.metadata.object_as<Caption>();
  EXPECT_TRUE(caption->image_metadata.empty());
  EXPECT_EQ(captioner.seen_attachments, 1u);
  EXPECT_TRUE(caption->attachments_context.empty());

  result = qorl_core::run_sync(captioner.convert(
      gps_jpeg(), {{"delete_attachments_context", false}, {"attachments_context", context}}));
  EXPECT_EQ(result.metadata.object_as<Caption>()->attachments_context.size(), 1u);
}

TEST(BaseImageToCaptionTest, NamesTheFrameSuppliesCannotComeFromTheCaller) {
  ScriptedCaptioner captioner;
  for (const char* name : {"image_metadata", "image_binary", "caption_data"}) {
    EXPECT_THROW(qorl_core::run_sync(captioner.convert(gps_jpeg(), {{name, 1}})),
                 qorl_core::TypeError)
        << name;
  }
  EXPECT_THROW(qorl_core::run_sync(captioner.convert(gps_jpeg(), {{"image_one_liner", 3}})),
               qorl_core::ValidationError);
}

}  // namespace
}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::image_to_caption
