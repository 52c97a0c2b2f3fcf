#include "qorl_multimodal/modality_converter/image_to_text/image_to_text.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_text {
namespace {

using qorl_core::Bytes;
using qorl_core::Options;
using qorl_core::Value;

static_assert(std::is_abstract_v<BaseImageToText>);

class RecordingImageToText : public BaseImageToText {
 public:
  Bytes image;
  std::string filename;
  Options options;

 protected:
  boost::asio::awaitable<TextResult> _convert(Bytes image_binary, std::string name,
                                              Options opts) override {
    image = std::move(image_binary);
    filename = std::move(name);
    options = std::move(opts);
    co_return TextResult::from_options({{"result", "text"}, {"tag", "t"}});
  }
};

TEST(BaseImageToTextTest, ChecksTheSourceBeforeAnyWork) {
  RecordingImageToText converter;
  try {
    qorl_core::run_sync(converter.convert(Value(3)));
    FAIL();
  } catch (const qorl_core::TypeError& error) {
    EXPECT_STREQ(error.what(), "The `source` must be of type `str` or `bytes`.");
  }
  EXPECT_THROW(qorl_core::run_sync(converter.convert(Value())), qorl_core::TypeError);
  for (const char* blank : {"   \n", "\u00A0", "\u3000", "\u2028", " \u00A0\u3000\u2028"}) {
    try {
      qorl_core::run_sync(converter.convert(blank));
      ADD_FAILURE() << "no ValueError for " << qorl_core::repr(Value(blank));
    } catch (const qorl_core::ValueError& error) {
      EXPECT_STREQ(error.what(), "The `source` cannot be an empty string.");
    }
  }
}

TEST(BaseImageToTextTest, UnresolvableSourcesGiveAnEmptyResultAndOneErrorLine) {
  qorl_testing::LogCapture capture;
  RecordingImageToText converter;
  for (const Value& source : {Value("/no/such/photo.png"), Value(qorl_core::Bytes())}) {
    capture.clear();
    const auto result = qorl_core::run_sync(converter.convert(source));
    EXPECT_EQ(result.result, "");
    EXPECT_EQ(result.tag, "");
    EXPECT_TRUE(result.metadata.is_none());
    EXPECT_EQ(capture.messages("RecordingImageToText", qorl_core::LogLevel::ERROR),
              (std::vector<std::string>{"Error getting image binary: Unsupported image format"}));
  }
}

TEST(BaseImageToTextTest, HandsImageAndOptionsOnWithTheResolvedName) {
  RecordingImageToText converter;
  const Bytes png = qorl_testing::encode_image(".png");
  const auto result = qorl_core::run_sync(converter.convert(png, {{"language", "English"}}));
  EXPECT_EQ(result.result, "text");
  EXPECT_EQ(converter.image, png);
  EXPECT_EQ(converter.filename, "not_given");
  EXPECT_EQ(converter.options, (Options{{"language", "English"}}));
  EXPECT_THROW(qorl_core::run_sync(converter.convert(png, {{"filename", "x.png"}})),
               qorl_core::TypeError);
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::image_to_text::image_to_text
