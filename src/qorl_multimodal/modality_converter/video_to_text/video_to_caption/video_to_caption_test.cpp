#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/video_to_caption.hpp"

#include <gtest/gtest.h>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "testing/http_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::video_to_caption {
namespace {

using qorl_core::List;
using qorl_core::Map;
using qorl_core::Options;
using qorl_core::Value;
using qorl_inference::Attachment;

static_assert(std::is_abstract_v<BaseVideoToCaption>);

class ScriptedCaptioner : public BaseVideoToCaption {
 public:
  using BaseVideoToCaption::_convert;
  Value answer = Map{{"video_summary", "S"}};
  std::shared_ptr<Attachment> seen_attachment;
  std::shared_ptr<Caption> seen_caption;
  Options seen_options;

  TextResult convert_sync(Value source, Options options = {}) {
    return qorl_core::run_sync(convert(std::move(source), std::move(options)));
  }

 protected:
  boost::asio::awaitable<Value> _get_captions(std::shared_ptr<Attachment> video_attachment,
                                              std::shared_ptr<Caption> caption_data,
                                              Options options) override {
    seen_attachment = std::move(video_attachment);
    seen_caption = std::move(caption_data);
    seen_options = std::move(options);
    co_return answer;
  }
};

Map keyframe(const char* caption) { return {{"caption", caption}, {"time_offset", 1}}; }

TEST(BaseVideoToCaptionTest, TheAnswerBecomesTheResultAndItsRecords) {
  ScriptedCaptioner captioner;
  captioner.answer = Map{
      {"video_summary", "S"},
      {"segments", List{Map{{"start_time", 0},
                            {"end_time", 5},
                            {"mood", "calm"},
                            {"keyframes", List{keyframe("A"), keyframe("B")}}},
                        Map{{"start_time", 5}, {"end_time", 9}, {"segment_caption", List{"C"}}}}}};
  const auto result = captioner.convert_sync(
      qorl_core::Bytes("x"), {{"image_one_liner", "T"}, {"language", "L"}, {"other", 1}});
  EXPECT_EQ(result.result, "S");
  EXPECT_EQ(result.tag, "caption");
  const Map& metadata = result.metadata.as_map();
  EXPECT_EQ(metadata.at("video_summary").as_string(), "S");
  const List& segments = metadata.at("segments").as_list();
  ASSERT_EQ(segments.size(), 2u);
  EXPECT_EQ(segments[0].as_map().at("segment_caption"), Value(List{"A", "B"}));
  EXPECT_EQ(segments[1].as_map().at("segment_caption"), Value(List{"C"}));
  EXPECT_EQ(segments[1].as_map().at("transcripts"), Value(List{}));
  EXPECT_FALSE(segments[0].as_map().contains("mood"));

  // Caption fields reach the record and the options; other options only the options.
  EXPECT_EQ(captioner.seen_caption->image_one_liner, "T");
  EXPECT_EQ(captioner.seen_caption->language, "L");
  EXPECT_EQ(captioner.seen_options.keys(),
            (std::vector<std::string>{"image_one_liner", "language", "other"}));

  captioner.answer = Map{{"video_summary", "S"}};
  EXPECT_EQ(captioner.convert_sync(qorl_core::Bytes("x")).metadata.as_map().at("segments"),
            Value(List{}));
}

TEST(BaseVideoToCaptionTest, UnusableAnswersFailTheConversion) {
  ScriptedCaptioner captioner;
  auto fails_on = [&](Value answer) {
    captioner.answer = std::move(answer);
    try {
      captioner.convert_sync(qorl_core::Bytes("x"));
    } catch (const qorl_core::ValidationError& error) {
      return std::string(error.names("video_summary") ? "video_summary" : "") + "ValidationError";
    } catch (const qorl_core::TypeError&) {
      return std::string("TypeError");
    } catch (const qorl_core::AttributeError&) {
      return std::string("AttributeError");
    }
    return std::string("nothing");
  };
  EXPECT_EQ(fails_on(Map{}), "video_summaryValidationError");
  EXPECT_EQ(fails_on(Map{{"video_summary", 3}}), "video_summaryValidationError");
  EXPECT_EQ(fails_on(List{}), "AttributeError");
  EXPECT_EQ(fails_on(Map{{"video_summary", "S"}, {"segments", 3}}), "TypeError");
  EXPECT_EQ(fails_on(Map{{"video_summary", "S"}, {"segments", List{"x"}}}), "TypeError");
  EXPECT_EQ(fails_on(Map{{"video_summary", "S"}, {"segments", List{Map{{"start_time", 0}}}}}),
            "ValidationError");

  EXPECT_THROW(captioner.convert_sync(qorl_core::Bytes("x"), {{"caption_data", 1}}),
               qorl_core::TypeError);
}

TEST(BaseVideoToCaptionTest, SourcesResolveToVideosByContent) {
  qorl_testing::TempDir dir;
  const auto clip = dir.path() / "clip.mp4";
  qorl_testing::write_solid_colour_video(clip, 5, 5.0, qorl_testing::colour_for_frame);
  const auto video = *utils::source_utils::get_file_from_file_path(clip.string());
  qorl_testing::HttpServer web;
  web.server().Get("/videos/clip.mp4", [&](const httplib::Request&, httplib::Response& r) {
    r.set_content(video.str(), "video/mp4");
  });
  web.start();

  ScriptedCaptioner captioner;
  const auto attachment = Attachment::from_bytes(video, "given.mp4");
  qorl_core::run_sync(captioner._convert(attachment, {}));
  EXPECT_EQ(captioner.seen_attachment, attachment);  // the very same object

  const std::vector<std::pair<std::string, std::string>> sources = {
      {clip.string(), "clip.mp4"},
      {web.url("/videos/clip.mp4?dl=1"), "clip.mp4"},
      {qorl_core::base64_encode(video.view()), "not_given"}};
  for (const auto& [source, filename] : sources) {
    captioner.convert_sync(source);
    EXPECT_EQ(captioner.seen_attachment->data.str(), video.str());
    EXPECT_EQ(captioner.seen_attachment->filename, filename);
    EXPECT_EQ(captioner.seen_attachment->mime_type, "video/mp4");
  }

  // Images are no videos.
  qorl_testing::LogCapture capture;
  const auto photo = dir.write("photo.png", qorl_testing::encode_image(".png").str());
  try {
    captioner.convert_sync(photo.string());
    FAIL();
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(), "Unsupported video format");
  }
  EXPECT_TRUE(
      capture.contains("The provided binary data is not a valid video file with error: "
                       "Not a video file. Detected MIME type: image/png"));
}

}  // namespace
}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::video_to_caption
