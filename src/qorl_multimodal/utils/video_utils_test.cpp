#include "qorl_multimodal/utils/video_utils.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <opencv2/imgcodecs.hpp>

#include "qorl_core/errors.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::video_utils {
namespace {

using qorl_testing::Bgr;

class VideoUtilsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new qorl_testing::TempDir();
    qorl_testing::write_solid_colour_video(numbered(), 250, 25, qorl_testing::colour_for_frame);
    qorl_testing::write_solid_colour_video(red(), 5, 25, [](int) { return Bgr{0, 0, 255}; });
    const auto long_numbered = dir_->path() / "long_numbered.avi";
    qorl_testing::write_solid_colour_video(long_numbered, 600, 25, qorl_testing::colour_for_frame);
    qorl_testing::write_h264_copy(long_numbered, long_gop(), 250, 3);
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string numbered() { return (dir_->path() / "numbered.avi").string(); }
  static std::string red() { return (dir_->path() / "red.avi").string(); }
  static std::string long_gop() { return (dir_->path() / "long_gop.mp4").string(); }

  static int frame_at(const std::string& video, double timestamp) {
    return qorl_testing::frame_for_colour(
        centre_of(extract_video_frame_at_timestamp(video, timestamp)));
  }

  static Bgr centre_of(const qorl_core::Bytes& image) {
    std::vector<unsigned char> buffer(image.data(), image.data() + image.size());
    cv::Mat decoded = cv::imdecode(buffer, cv::IMREAD_COLOR);
    const auto pixel = decoded.at<cv::Vec3b>(decoded.rows / 2, decoded.cols / 2);
    return {pixel[0], pixel[1], pixel[2]};
  }

  static qorl_testing::TempDir* dir_;
};
qorl_testing::TempDir* VideoUtilsTest::dir_ = nullptr;

TEST_F(VideoUtilsTest, SeeksToTheFrameShownAtTheTimestamp) {
  EXPECT_EQ(
      qorl_testing::frame_for_colour(centre_of(extract_video_frame_at_timestamp(numbered(), 3.0))),
      75);
  EXPECT_EQ(
      qorl_testing::frame_for_colour(centre_of(extract_video_frame_at_timestamp(numbered(), 0))),
      0);
  // 1.99 frames is frame 1.
  EXPECT_EQ(qorl_testing::frame_for_colour(
                centre_of(extract_video_frame_at_timestamp(numbered(), 0.0796))),
            1);
}

// Key frames 250 frames apart and three B-frames between references: frames are decoded in
// another order than shown, and a key frame's decoding time comes before the frame shown
// just ahead of it.
TEST_F(VideoUtilsTest, FindsTheExactFrameInLongGopsWithBFrames) {
  for (const int frame : {0, 1, 3, 4, 248, 249, 250, 251, 374, 498, 499, 500, 501, 597, 598, 599}) {
    EXPECT_EQ(frame_at(long_gop(), (frame + 0.5) / 25), frame) << "frame " << frame;
  }
  EXPECT_EQ(frame_at(long_gop(), 10.0), 250);
  EXPECT_EQ(frame_at(long_gop(), 60.0), 599);
}

TEST_F(VideoUtilsTest, PastTheEndWarnsAndGivesTheLastFrame) {
  qorl_testing::LogCapture capture;
  const auto image = extract_video_frame_at_timestamp(numbered(), 12.0);
  EXPECT_EQ(qorl_testing::frame_for_colour(centre_of(image)), 249);
  EXPECT_EQ(capture.messages("qorl_multimodal.utils.video_utils"),
            (std::vector<std::string>{
                "Extracting frame from " + numbered() + " at timestamp 12.0s",
                "Timestamp 12.0s (frame 300) exceeds video duration. Using last frame (frame 249).",
                "Successfully extracted frame at 12.0s"}));
}

// Times beyond any integer frame number still mean "past the end"; NaN and infinity name no
// frame at all.
TEST_F(VideoUtilsTest, TimesBeyondIntegerRangeGiveTheLastFrameAndNonNumbersFail) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(
      qorl_testing::frame_for_colour(centre_of(extract_video_frame_at_timestamp(red(), 1e300))),
      qorl_testing::frame_for_colour(Bgr{0, 0, 255}));
  const auto messages = capture.messages("qorl_multimodal.utils.video_utils");
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_TRUE(messages[1].starts_with("Timestamp 1e+300s (frame 25")) << messages[1];
  EXPECT_TRUE(messages[1].ends_with(") exceeds video duration. Using last frame (frame 4)."));

  for (const auto& [timestamp, cause] :
       {std::pair{std::numeric_limits<double>::quiet_NaN(), "cannot convert float NaN to integer"},
        std::pair{std::numeric_limits<double>::infinity(),
                  "cannot convert float infinity to integer"}}) {
    try {
      extract_video_frame_at_timestamp(red(), timestamp);
      FAIL() << cause;
    } catch (const qorl_core::ValueError& error) {
      EXPECT_TRUE(std::string(error.what()).ends_with(cause)) << error.what();
    }
  }
}

TEST_F(VideoUtilsTest, KeepsColoursAndEncodesTheAskedFormat) {
  const auto png = extract_video_frame_at_timestamp(red(), 0.1);
  EXPECT_EQ(png.view().substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
  const Bgr pixel = centre_of(png);
  EXPECT_LT(pixel[0], 40);
  EXPECT_LT(pixel[1], 40);
  EXPECT_GT(pixel[2], 215);
  const auto jpeg = extract_video_frame_at_timestamp(red(), 0.1, "JPEG");
  EXPECT_EQ(jpeg.view().substr(0, 3), std::string_view("\xff\xd8\xff", 3));
}

TEST_F(VideoUtilsTest, RefusesBadArgumentsBeforeDecoding) {
  try {
    extract_video_frame_at_timestamp("/no/such/v.mp4", 1);
    FAIL();
  } catch (const qorl_core::FileNotFoundError& error) {
    EXPECT_STREQ(error.what(), "Video file not found: /no/such/v.mp4");
  }
  try {
    extract_video_frame_at_timestamp(numbered(), -0.5);
    FAIL();
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(), "Timestamp must be non-negative, got: -0.5");
  }
}

TEST_F(VideoUtilsTest, WrapsDecodingFailuresWithTheCauseAttached) {
  const auto not_a_video = dir_->write("v.mp4", "not a video");
  try {
    extract_video_frame_at_timestamp(not_a_video.string(), 5.5);
    FAIL();
  } catch (const qorl_core::ValueError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Error extracting frame from video " + not_a_video.string() +
                  " at timestamp 5.5s: Failed to open video file: " + not_a_video.string());
    EXPECT_THROW(std::rethrow_if_nested(error), qorl_core::ValueError);
  }
  EXPECT_THROW(extract_video_frame_at_timestamp(red(), 0, "XYZ"), qorl_core::ValueError);
}

// The decoder's own complaints stay off standard error: a failure is one error, nothing more.
TEST_F(VideoUtilsTest, DamagedVideosFailWithoutDecoderOutput) {
  std::ifstream in(long_gop(), std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(in)), {});
  const auto truncated = dir_->write("truncated.mp4", whole.substr(0, whole.size() / 2));
  const auto empty = dir_->write("empty.mp4", "");
  for (const auto& video : {truncated, empty}) {
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(extract_video_frame_at_timestamp(video.string(), 1.0), qorl_core::ValueError);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << video;
  }
}

}  // namespace
}  // namespace qorl_multimodal::utils::video_utils
