#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/lm_based_video_to_caption.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/google_lm_invoker.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"
#include "qorl_multimodal/modality_converter/video_to_text/video_to_caption/preset_video_to_caption.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"
#include "testing/source_files.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::video_to_text::video_to_caption::
    lm_based_video_to_caption {
namespace {

using nlohmann::json;
using preset_video_to_caption::get_preset_video_to_caption;
using qorl_core::Options;
using qorl_core::Value;
using qorl_inference::Attachment;
using qorl_inference::LMRequestProcessor;
using qorl_testing::FakeGeminiServer;

// Shows what reaches the captioning step, and offers the frame's steps to the tests.
class ObservedCaptioner : public LMBasedVideoToCaption {
 public:
  using LMBasedVideoToCaption::LMBasedVideoToCaption;
  using LMBasedVideoToCaption::_build_prompt_params;
  using LMBasedVideoToCaption::_convert;
  std::shared_ptr<Attachment> seen_attachment;

 protected:
  boost::asio::awaitable<Value> _get_captions(std::shared_ptr<Attachment> video_attachment,
                                              std::shared_ptr<Caption> caption_data,
                                              Options options) override {
    seen_attachment = video_attachment;
    co_return co_await LMBasedVideoToCaption::_get_captions(
        std::move(video_attachment), std::move(caption_data), std::move(options));
  }
};

const char* const kAnswer = R"(```json
{"video_summary": "Layar berganti warna.",
 "segments": [{"start_time": 0, "end_time": 1,
               "transcripts": [{"text": "Halo", "start_time": 0.2, "end_time": 0.8, "lang_id": "id"}],
               "keyframes": [{"caption": "Layar biru", "time_offset": 0.5}]}]}
```)";

class LMBasedVideoToCaptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("GOOGLE_GEMINI_BASE_URL", gemini_.base_url())
        .set("GEMINI_API_KEY", gemini_.api_key())
        .unset("DEFAULT_VIDEO_CAPTIONING_MODEL_ID");
    gemini_.set_answer_text(kAnswer);
    qorl_testing::write_solid_colour_video(clip_, 5, 5.0, qorl_testing::colour_for_frame);
    video_ = *utils::source_utils::get_file_from_file_path(clip_.string());
  }

  // The body of the last generateContent request.
  json last_request() const { return json::parse(gemini_.generate_requests().back().body); }

  // Runs `call`, which must fail with E, and hands the error to `check`.
  template <typename E, typename Call>
  void expect_failure(Call call, const std::function<void(const E&)>& check) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const E& error) {
      check(error);
    }
  }

  FakeGeminiServer gemini_;
  qorl_testing::ScopedEnv env_;
  qorl_testing::TempDir dir_;
  const std::filesystem::path clip_ = dir_.path() / "clip.mp4";
  qorl_core::Bytes video_;
};

TEST_F(LMBasedVideoToCaptionTest, CaptionsAVideoGivenAsBytesAttachmentOrPath) {
  auto [invoker, builder, parser] = get_preset_video_to_caption("default");
  ObservedCaptioner captioner(std::make_shared<LMRequestProcessor>(builder, invoker, parser));
  const auto attachment = Attachment::from_bytes(video_, "clip.mov");
  const Options options{{"number_of_captions", 2}, {"language", "English"}};
  const std::vector<std::pair<std::function<TextResult()>, std::string>> calls = {
      {[&] { return qorl_core::run_sync(captioner.convert(video_, options)); }, "video.mp4"},
      {[&] { return qorl_core::run_sync(captioner.convert(clip_.string(), options)); }, "clip.mp4"},
      {[&] { return qorl_core::run_sync(captioner._convert(attachment, options)); }, "clip.mov"},
  };
  for (const auto& [call, filename] : calls) {
    const TextResult result = call();
    EXPECT_EQ(result.result, "Layar berganti warna.");
    EXPECT_EQ(result.tag, "caption");
    const auto& segment = result.metadata.as_map().at("segments").as_list().at(0).as_map();
    EXPECT_EQ(segment.at("segment_caption"), Value(qorl_core::List{"Layar biru"}));
    EXPECT_EQ(segment.at("transcripts").as_list().at(0).as_map().at("start_time"), Value(0.2));
    EXPECT_EQ(segment.at("start_time"), Value(0.0));

    const json body = last_request();
    const json& parts = body["contents"][0]["parts"];
    ASSERT_EQ(parts.size(), 2u);  // the video, then the prompt
    EXPECT_EQ(parts[0]["inlineData"]["mimeType"], "video/mp4");
    EXPECT_EQ(parts[0]["inlineData"]["data"], qorl_core::base64_encode(video_.view()));
    EXPECT_NE(parts[1]["text"].get<std::string>().find("Main Video Filename: " + filename + "\n"),
              std::string::npos);
    const std::string system = body["systemInstruction"]["parts"][0]["text"];
    EXPECT_NE(system.find("produce 2 captions in English (each caption"), std::string::npos);
  }
  EXPECT_EQ(captioner.seen_attachment, attachment);  // the last call: the very same object
  EXPECT_NE(gemini_.generate_requests().back().path.find("gemini-2.5-flash"), std::string::npos);

  const auto png = qorl_testing::encode_image(".png");
  qorl_core::run_sync(
      captioner.convert(video_, {{"attachments_context", qorl_core::List{png, png}}}));
  const json parts = last_request()["contents"][0]["parts"];
  ASSERT_EQ(parts.size(), 4u);  // the video first, then the context, then the prompt
  EXPECT_EQ(parts[0]["inlineData"]["mimeType"], "video/mp4");
  EXPECT_EQ(parts[2]["inlineData"]["mimeType"], "image/png");

  const auto params = captioner._build_prompt_params(*Attachment::from_bytes(video_), Caption());
  EXPECT_EQ(params.keys(),
            (std::vector<std::string>{"filename", "image_one_liner", "image_description",
                                      "domain_knowledge", "number_of_captions", "language",
                                      "image_metadata"}));
  EXPECT_EQ(params.at("filename"), Value("video.mp4"));
}

TEST_F(LMBasedVideoToCaptionTest, ContainersTheServiceDoesNotDocumentGoAsMp4OrFailNamingTheirType) {
  auto captioner = LMBasedVideoToCaption::from_preset();
  // H.264 and AAC are copied into MP4; VP8 and Vorbis, which MP4 cannot hold, are encoded again.
  for (const char* codecs : {"libx264,aac", "libvpx,libvorbis"}) {
    SCOPED_TRACE(codecs);
    const std::string names = codecs;
    const auto mkv = dir_.path() / "clip.mkv";
    qorl_testing::write_with_ffmpeg(
        {"-f", "lavfi", "-i", "color=c=blue:s=64x48:d=1", "-f", "lavfi", "-i", "sine=d=1", "-c:v",
         names.substr(0, names.find(',')), "-c:a", names.substr(names.find(',') + 1), "-shortest"},
        mkv);
    EXPECT_EQ(qorl_core::run_sync(captioner->convert(mkv.string())).result,
              "Layar berganti warna.");
    const json part = last_request()["contents"][0]["parts"][0]["inlineData"];
    EXPECT_EQ(part["mimeType"], "video/mp4");
    EXPECT_EQ(qorl_core::base64_decode(part["data"].get<std::string>())->substr(4, 4), "ftyp");
    EXPECT_NE(last_request()["contents"][0]["parts"][1]["text"].get<std::string>().find(
                  "Main Video Filename: clip.mkv\n"),
              std::string::npos);
  }

  const std::size_t sent = gemini_.generate_requests().size();
  const std::string truncated =
      qorl_core::read_regular_file((dir_.path() / "clip.mkv").string()).substr(0, 200);
  expect_failure<qorl_core::ValueError>(
      [&] { qorl_core::run_sync(captioner->convert(qorl_core::Bytes(truncated))); },
      [](const qorl_core::ValueError& error) {
        const std::string message = qorl_core::describe(error);
        EXPECT_NE(message.find("'video/x-matroska'"), std::string::npos) << message;
        EXPECT_NE(message.find("video/mp4, video/mpeg"), std::string::npos) << message;
      });
  EXPECT_EQ(gemini_.generate_requests().size(), sent);
}

TEST_F(LMBasedVideoToCaptionTest, LargeVideosTravelThroughTheFilesApi) {
  Options lm_invoker_kwargs{{"inline_data_limit", 1000}};
  auto [invoker, builder, parser] = get_preset_video_to_caption("default", &lm_invoker_kwargs);
  EXPECT_EQ(lm_invoker_kwargs.at("model_id"),
            Value("google/gemini-2.5-flash"));  // the caller's map
  gemini_.set_request_size_limit(4000);  // the prompt fits, the prompt and the video inline do not
  auto captioner = LMBasedVideoToCaption::from_lm_components(builder, invoker, parser);

  const auto result = qorl_core::run_sync(captioner->convert(clip_.string()));
  EXPECT_EQ(result.result, "Layar berganti warna.");
  const json part = last_request()["contents"][0]["parts"][0];
  EXPECT_EQ(
      part,
      (json{{"fileData",
             {{"mimeType", "video/mp4"}, {"fileUri", gemini_.base_url() + "/v1beta/files/1"}}}}));
  EXPECT_EQ(gemini_.removed_files(), std::vector<std::string>{"files/1"});
}

TEST_F(LMBasedVideoToCaptionTest, GuardsLogEachFailureKind) {
  qorl_testing::LogCapture capture;
  auto captioner = LMBasedVideoToCaption::from_preset();
  auto convert = [&] { qorl_core::run_sync(captioner->convert(video_)); };

  // An answer that is no JSON: the parser's ValueError reaches the caller.
  gemini_.set_answer_text("Sorry, I cannot watch videos.");
  std::string parser_message;
  expect_failure<qorl_core::ValueError>(convert,
                                        [&](const auto& error) { parser_message = error.what(); });

  // A failed model call: an empty answer, so the summary is missing.
  gemini_.queue_reply(
      {400, FakeGeminiServer::error_body(400, "Video too long", "INVALID_ARGUMENT")});
  expect_failure<qorl_core::ValidationError>(
      convert, [](const auto& error) { EXPECT_TRUE(error.names("video_summary")); });

  // Any other error, here a template variable nobody fills.
  auto processor = std::make_shared<LMRequestProcessor>(
      std::make_shared<qorl_inference::PromptBuilder>("", "{scene}"),
      captioner->lm_request_processor->lm_invoker(),
      captioner->lm_request_processor->output_parser());
  LMBasedVideoToCaption unfilled(processor);
  expect_failure<qorl_core::ValidationError>(
      [&] { qorl_core::run_sync(unfilled.convert(video_)); },
      [](const auto& error) { EXPECT_TRUE(error.names("video_summary")); });

  const auto lines = capture.messages("LMBasedVideoToCaption", qorl_core::LogLevel::ERROR);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Invalid video data: " + parser_message);
  EXPECT_EQ(lines[1].rfind("Failed to generate captions: ", 0), 0u);
  EXPECT_NE(lines[1].find("Video too long"), std::string::npos);
  EXPECT_EQ(lines[1].find(gemini_.api_key()), std::string::npos);
  EXPECT_EQ(lines[2].rfind("Unexpected error during caption generation: ", 0), 0u);
  EXPECT_NE(lines[2].find("scene"), std::string::npos);
}

TEST(PresetVideoToCaptionTest, PresetNamesModelIdsTemplatesAndPromptOptions) {
  qorl_testing::ScopedEnv env;
  env.unset("DEFAULT_VIDEO_CAPTIONING_MODEL_ID");
  Options kwargs{{"api_key", "k"}};
  try {
    get_preset_video_to_caption("fast", &kwargs);
    FAIL();
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(), "Invalid preset name: fast");
  }
  EXPECT_EQ(kwargs.at("model_id"), Value("google/gemini-2.5-flash"));
  EXPECT_THROW(LMBasedVideoToCaption::from_preset("fast"), qorl_core::ValueError);

  env.set("DEFAULT_VIDEO_CAPTIONING_MODEL_ID", "openai/local-vlm");
  auto [invoker, builder, parser] = get_preset_video_to_caption("default");
  auto openai = std::dynamic_pointer_cast<qorl_inference::OpenAILMInvoker>(invoker);
  ASSERT_TRUE(openai);
  EXPECT_EQ(openai->model_name(), "local-vlm");
  EXPECT_EQ(builder->prompt_key_set(),
            (std::set<std::string>{"language", "number_of_captions", "image_one_liner",
                                   "image_description", "filename", "image_metadata",
                                   "domain_knowledge"}));
  Options mine{{"model_id", "google/gemini-2.0-pro"}};
  auto google = std::dynamic_pointer_cast<qorl_inference::GoogleLMInvoker>(
      std::get<0>(get_preset_video_to_caption("default", &mine)));
  ASSERT_TRUE(google);
  EXPECT_EQ(google->model_name(), "gemini-2.0-pro");

  const std::string testdata =
      "src/qorl_multimodal/modality_converter/video_to_text/video_to_caption/testdata/";
  EXPECT_EQ(preset_video_to_caption::DEFAULT_SYSTEM_PROMPT,
            qorl_testing::read_source_file(testdata + "video_caption_system_prompt.txt"));
  EXPECT_EQ(preset_video_to_caption::DEFAULT_USER_PROMPT,
            qorl_testing::read_source_file(testdata + "video_caption_user_prompt.txt"));

  Options templates{{"system_template", "x"}};
  EXPECT_THROW(get_preset_video_to_caption("default", nullptr, &templates), qorl_core::TypeError);
}

}  // namespace
}  // namespace
   // qorl_multimodal::modality_converter::video_to_text::video_to_caption::lm_based_video_to_caption
