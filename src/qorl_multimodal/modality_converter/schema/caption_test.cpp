#include "qorl_multimodal/modality_converter/schema/caption.hpp"

#include <gtest/gtest.h>

#include "qorl_core/base64.hpp"
#include "testing/media.hpp"

namespace qorl_multimodal::modality_converter::schema::caption {
namespace {

using qorl_core::Bytes;
using qorl_core::List;
using qorl_core::Map;
using qorl_core::ValidationError;
using qorl_core::Value;
using qorl_inference::Attachment;

TEST(CaptionTest, DefaultsAreFreshAndNoneTakesTheDefault) {
  auto a = Caption::from_options({});
  auto b = Caption::from_options({{"image_one_liner", Value()},
                                  {"language", Value()},
                                  {"number_of_captions", Value()},
                                  {"image_metadata", Value()},
                                  {"attachments_context", Value()}});
  for (const auto* caption : {&a, &b}) {
    EXPECT_EQ(caption->image_one_liner, "not_given");
    EXPECT_EQ(caption->number_of_captions, 5);
    EXPECT_TRUE(caption->image_metadata.empty());
    EXPECT_TRUE(caption->attachments_context.empty());
  }
  EXPECT_EQ(a.language, "Indonesian");
  EXPECT_EQ(b.language, "not_given");
  a.image_metadata.set("k", 1);
  EXPECT_TRUE(b.image_metadata.empty());
  EXPECT_EQ(a.to_map().keys(),
            (std::vector<std::string>{"image_one_liner", "image_description", "domain_knowledge",
                                      "number_of_captions", "language", "image_metadata",
                                      "attachments_context"}));
}

TEST(CaptionTest, HintsOfTheWrongKindNameTheirField) {
  EXPECT_EQ(Caption::from_options({{"number_of_captions", "3"}}).number_of_captions, 3);
  try {
    Caption::from_options({{"number_of_captions", "three"}, {"image_one_liner", 7}});
    FAIL();
  } catch (const ValidationError& error) {
    EXPECT_TRUE(error.names("number_of_captions"));
    EXPECT_TRUE(error.names("image_one_liner"));
  }
}

TEST(CaptionTest, AttachmentsContextKeepsAttachmentsAndResolvesTheRest) {
  const Bytes png = qorl_testing::encode_image(".png");
  auto existing = Attachment::from_bytes(qorl_testing::encode_image(".jpg"), "ctx.jpg");
  auto caption = Caption::from_options(
      {{"attachments_context", List{png, existing, qorl_core::base64_encode(png.view())}}});
  ASSERT_EQ(caption.attachments_context.size(), 3u);
  EXPECT_EQ(caption.attachments_context[0]->data, png);
  EXPECT_EQ(caption.attachments_context[0]->mime_type, "image/png");
  EXPECT_EQ(caption.attachments_context[1], existing);
  EXPECT_EQ(caption.attachments_context[2]->filename, "not_given");
}

TEST(CaptionTest, AttachmentsContextOfTheWrongShape) {
  try {
    Caption::from_options({{"attachments_context", "photo.png"}});
    FAIL();
  } catch (const qorl_core::TypeError& error) {
    EXPECT_STREQ(error.what(), "Unsupported attachments_context type: <class 'str'>");
  }
  EXPECT_THROW(Caption::from_options({{"attachments_context", Map{}}}), qorl_core::TypeError);
  try {
    Caption::from_options({{"attachments_context", List{"/no/such/context.png"}}, {"language", 1}});
    FAIL();
  } catch (const ValidationError& error) {
    ASSERT_EQ(error.errors().size(), 2u);
    EXPECT_EQ(error.errors()[0].field, "language");
    EXPECT_EQ(error.errors()[1].field, "attachments_context");
    EXPECT_EQ(error.errors()[1].message, "Unsupported image format");
  }
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::schema::caption
