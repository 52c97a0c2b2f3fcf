#include "qorl_multimodal/modality_converter/video_to_text/video_to_text.hpp"

#include <gtest/gtest.h>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/attachment.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_text {
namespace {

using qorl_core::Value;

static_assert(std::is_abstract_v<BaseVideoToText>);

class RecordingConverter : public BaseVideoToText {
 public:
  Value seen_source;
  qorl_core::Options seen_options;

 protected:
  boost::asio::awaitable<TextResult> _convert(Value source, qorl_core::Options options) override {
    seen_source = std::move(source);
    seen_options = std::move(options);
    co_return TextResult::from_options({{"result", "done"}, {"tag", "caption"}});
  }
};

TEST(BaseVideoToTextTest, ChecksTheSourceAndWrapsBytes) {
  RecordingConverter converter;
  auto convert = [&](Value source) {
    return qorl_core::run_sync(converter.convert(std::move(source), {{"k", 1}}));
  };

  for (const Value& empty : {Value(" \t\n "), Value(qorl_core::Bytes()), Value("\u00A0"),
                             Value("\u3000"), Value("\u2028"), Value(" \u00A0\u3000\u2028")}) {
    try {
      convert(empty);
      ADD_FAILURE() << "no ValueError";
    } catch (const qorl_core::ValueError& error) {
      EXPECT_STREQ(error.what(), "The `source` cannot be empty.");
    }
  }
  try {
    convert(qorl_core::List{"clip.mp4"});
    ADD_FAILURE() << "no TypeError";
  } catch (const qorl_core::TypeError& error) {
    EXPECT_STREQ(error.what(), "The `source` must be of type `str` or `bytes`.");
  }
  EXPECT_TRUE(converter.seen_source.is_none());  // nothing reached the conversion

  EXPECT_EQ(convert(" clip.mp4").result, "done");
  EXPECT_EQ(converter.seen_source.as_string(), " clip.mp4");  // text is not trimmed
  EXPECT_EQ(converter.seen_options.at("k").as_int(), 1);

  convert(qorl_core::Bytes("video bytes"));
  const auto attachment = converter.seen_source.object_as<qorl_inference::Attachment>();
  ASSERT_TRUE(attachment);
  EXPECT_EQ(attachment->data.str(), "video bytes");
  EXPECT_EQ(attachment->filename, "");

  EXPECT_THROW(BaseVideoToText::from_preset(), qorl_core::NotImplementedError);
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::video_to_text::video_to_text
