#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/preset_image_to_caption.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fake_s3.hpp"
#include "testing/google_fakes.hpp"
#include "testing/http_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    lm_based_image_to_caption {
namespace {

using nlohmann::json;
using qorl_core::Bytes;
using qorl_core::List;
using qorl_core::Value;

class LMBasedImageToCaptionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    web_.server().Get("/photos/gps.jpg", [this](const httplib::Request&, httplib::Response& r) {
      r.set_content(gps_jpeg_.str(), "image/jpeg");
    });
    web_.start();
    s3_.put("bucket", "dir/photo.jpg", gps_jpeg_.str());
    google_.add_file("1AbCdEfGhIjKlMnOpQrStUv", gps_jpeg_.str(),
                     qorl_testing::FakeGoogle::Web::PUBLIC);
    env_.set("GOOGLE_GEMINI_BASE_URL", gemini_.base_url())
        .set("GEMINI_API_KEY", gemini_.api_key())
        .unset("DEFAULT_IMAGE_CAPTIONING_MODEL_ID")
        .set("AWS_ENDPOINT_URL_S3", s3_.endpoint())
        .set("AWS_ACCESS_KEY_ID", "AKIDEXAMPLE")
        .set("AWS_SECRET_ACCESS_KEY", "secret")
        .set("AWS_REGION", "us-east-1")
        .set("QORL_GDRIVE_BASE_URL", google_.base_url())
        .set("QORL_GOOGLEAPIS_BASE_URL", google_.base_url());
    answer({"Sebuah foto.", "Foto kedua."});
  }

  void answer(const std::vector<std::string>& captions) {
    gemini_.set_answer_text(json{{"captions", captions}}.dump());
  }

  // The parts of the last generateContent request.
  json last_parts() const {
    const auto requests = gemini_.generate_requests();
    EXPECT_FALSE(requests.empty());
    return json::parse(requests.back().body)["contents"][0]["parts"];
  }
  static std::string user_text(const json& parts) { return parts.back()["text"]; }

  const Bytes gps_jpeg_ =
      qorl_testing::with_exif(qorl_testing::encode_image(".jpg"), qorl_testing::kSanFranciscoGps);
  qorl_testing::FakeGeminiServer gemini_;
  qorl_testing::FakeS3 s3_{"AKIDEXAMPLE", "secret"};
  qorl_testing::FakeGoogle google_;
  qorl_testing::HttpServer web_;
  qorl_testing::ScopedEnv env_;
  qorl_testing::TempDir dir_;
};

TEST_F(LMBasedImageToCaptionTest, CaptionsEveryKindOfSource) {
  auto captioner = LMBasedImageToCaption::from_preset();
  const std::vector<std::pair<Value, std::string>> sources = {
      {dir_.write("gps.jpg", gps_jpeg_.str()).string(), "gps.jpg"},
      {web_.url("/photos/gps.jpg"), "gps.jpg"},
      {qorl_core::base64_encode(gps_jpeg_.view()), "not_given"},
      {gps_jpeg_, "not_given"},
      {"s3://bucket/dir/photo.jpg", "photo.jpg"},
      {"https://drive.google.com/file/d/1AbCdEfGhIjKlMnOpQrStUv/view", "view"},
  };
  for (const auto& [source, filename] : sources) {
    const auto result =
        qorl_core::run_sync(captioner->convert(source, {{"number_of_captions", 2}}));
    EXPECT_EQ(result.result, "Sebuah foto.\nFoto kedua.") << qorl_core::repr(source).substr(0, 80);
    EXPECT_EQ(result.tag, "caption");
    auto caption = result.metadata.object_as<Caption>();
    ASSERT_TRUE(caption);
    EXPECT_DOUBLE_EQ(caption->image_metadata.at("latitude").as_double(), 37.775);
    EXPECT_EQ(caption->number_of_captions, 2);

    const json parts = last_parts();
    ASSERT_EQ(parts.size(), 2u);  // the image, then the prompt
    EXPECT_EQ(parts[0]["inlineData"]["data"], qorl_core::base64_encode(gps_jpeg_.view()));
    EXPECT_NE(user_text(parts).find("Main Image Filename: " + filename + "\n"), std::string::npos);
  }
  EXPECT_NE(gemini_.generate_requests().back().path.find("gemini-2.5-flash"), std::string::npos);
}

TEST_F(LMBasedImageToCaptionTest, SendsTheTemplatesVariablesAndContextAttachments) {
  auto captioner = LMBasedImageToCaption::from_preset(std::nullopt);
  qorl_core::run_sync(captioner->convert(
      gps_jpeg_, {{"image_one_liner", "Judul"},
                  {"language", "English"},
                  {"number_of_captions", 3},
                  {"attachments_context",
                   List{qorl_testing::encode_image(".png"), qorl_testing::encode_image(".png")}}}));
  const auto body = json::parse(gemini_.generate_requests().back().body);
  EXPECT_NE(body["systemInstruction"]["parts"][0]["text"].get<std::string>().find(
                "Create 3 captions in Indonesian."),
            std::string::npos);
  const json parts = body["contents"][0]["parts"];
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0]["inlineData"]["mimeType"], "image/jpeg");
  EXPECT_EQ(parts[1]["inlineData"]["mimeType"], "image/png");
  EXPECT_EQ(user_text(parts),
            "\n    <INPUT_STRUCTURE>\n    Title: Judul\n    Content: not_given\n    Main Image "
            "Filename: not_given\n"
            "    Metadata: {\"latitude\":37.775,\"longitude\":-122.41933333333334}\n"
            "    Injected Domain Knowledge: not_given\n    </INPUT_STRUCTURE>\n");
}

TEST_F(LMBasedImageToCaptionTest, ImagesTheServiceDoesNotDocumentGoAsPngOrFailNamingTheirType) {
  auto captioner = LMBasedImageToCaption::from_preset();
  // An animation whose first frame is red, then blue: the first frame is sent.
  const auto gif = dir_.path() / "clip.gif";
  qorl_testing::write_with_ffmpeg(
      {"-f", "lavfi", "-i",
       "color=c=red:s=16x16:d=0.5:r=4[a];color=c=blue:s=16x16:d=0.5:r=4[b];[a][b]concat[out0]"},
      gif);
  const std::vector<std::pair<std::string, Value>> images = {
      {"gif", gif.string()},
      {"bmp", qorl_testing::encode_image(".bmp", {0, 0, 255})},
      {"tiff", qorl_testing::encode_image(".tiff", {0, 0, 255})}};
  for (const auto& [name, image] : images) {
    SCOPED_TRACE(name);
    EXPECT_EQ(qorl_core::run_sync(captioner->convert(image)).result, "Sebuah foto.\nFoto kedua.");
    const json data = last_parts()[0]["inlineData"];
    EXPECT_EQ(data["mimeType"], "image/png");
    const std::string png = *qorl_core::base64_decode(data["data"].get<std::string>());
    const cv::Mat pixels = cv::imdecode(
        cv::Mat(1, static_cast<int>(png.size()), CV_8UC1, const_cast<char*>(png.data())),
        cv::IMREAD_COLOR);
    ASSERT_EQ(pixels.cols, 16);
    const auto pixel = pixels.at<cv::Vec3b>(8, 8);
    EXPECT_GT(pixel[2], 200);  // red
    EXPECT_LT(pixel[0], 50);
  }

  // Nothing decodes a vector drawing: an error that names it, and no request.
  const std::size_t sent = gemini_.generate_requests().size();
  const std::string svg =
      R"(<?xml version="1.0"?><svg xmlns="http://www.w3.org/2000/svg" width="4" height="4"/>)";
  try {
    qorl_core::run_sync(captioner->convert(Bytes(svg)));
    ADD_FAILURE() << "no error";
  } catch (const qorl_core::ValueError& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("'image/svg+xml'"));
    EXPECT_THAT(error.what(), ::testing::HasSubstr("image/png, image/jpeg"));
  }
  EXPECT_EQ(gemini_.generate_requests().size(), sent);
}

TEST_F(LMBasedImageToCaptionTest, ModelFailuresGiveAnEmptyResultNotAnError) {
  qorl_testing::LogCapture capture;
  auto captioner = LMBasedImageToCaption::from_preset();

  answer({"Only one."});
  auto result = qorl_core::run_sync(captioner->convert(gps_jpeg_));
  EXPECT_EQ(result.result, "Only one.");
  EXPECT_TRUE(capture.contains("Generated 1 captions, but expected 5"));

  gemini_.set_answer_text(R"({"descriptions": ["x"]})");
  result = qorl_core::run_sync(captioner->convert(gps_jpeg_));
  EXPECT_EQ(result.result, "");
  EXPECT_EQ(result.tag, "caption");
  EXPECT_EQ(result.metadata.object_as<Caption>()->number_of_captions, 0);

  gemini_.queue_reply(
      {400, qorl_testing::FakeGeminiServer::error_body(400, "Bad image", "INVALID_ARGUMENT")});
  result = qorl_core::run_sync(captioner->convert(gps_jpeg_));
  EXPECT_EQ(result.result, "");
  const auto lines = capture.messages("LMBasedImageToCaption");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].rfind("Failed to generate captions will return empty list, details: ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("Failed to generate captions will return empty list, details: ", 0), 0u);
  EXPECT_EQ(lines[2].find(gemini_.api_key()), std::string::npos);
}

TEST(PresetImageToCaptionTest, PresetNamesAndTheModelFromTheEnvironment) {
  qorl_testing::ScopedEnv env;
  env.set("DEFAULT_IMAGE_CAPTIONING_MODEL_ID", "openai/local-vlm");
  auto [invoker, builder, parser] = preset_image_to_caption::get_preset_image_to_caption("default");
  auto openai = std::dynamic_pointer_cast<qorl_inference::OpenAILMInvoker>(invoker);
  ASSERT_TRUE(openai);
  EXPECT_EQ(openai->model_name(), "local-vlm");
  EXPECT_EQ(builder->prompt_key_set(),
            (std::set<std::string>{"number_of_captions", "image_one_liner", "image_description",
                                   "filename", "image_metadata", "domain_knowledge"}));
  EXPECT_TRUE(parser);
  try {
    LMBasedImageToCaption::from_preset("fast");
    FAIL();
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(), "Invalid preset name: fast");
  }
}

}  // namespace
}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption
