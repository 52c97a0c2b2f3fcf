#include "qorl_multimodal/utils/video_utils.hpp"

#include <gtest/gtest.h>

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
  }
  static void TearDownTestSuite() { delete dir_; }
  static std::string numbered() { return (dir_->path() / "numbered.avi").string(); }
  static std::string red() { return (dir_->path() / "red.avi").string(); }

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
  EXPECT_EQ(qorl_testing::frame_for_colour(centre_of(extract_video_frame_at_timestamp(numbered(), 3.0))), 75);
  EXPECT_EQ(qorl_testing::frame_for_colour(centre_of(extract_video_frame_at_timestamp(numbered(), 0))), 0);
  // 1.99 frames is frame 1.
  EXPECT_EQ(qorl_testing::frame_for_colour(centre_of(extract_video_frame_at_timestamp(numbered(), 0.0796))), 1);
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
    EXPECT_EQ(std::string(error.what()), "Error extracting frame from video " + not_a_video.string() +
                                             " at timestamp 5.5s: Failed to open video file: " +
                                             not_a_video.string());
    EXPECT_THROW(std::rethrow_if_nested(error), qorl_core::ValueError);
  }
  EXPECT_THROW(extract_video_frame_at_timestamp(red(), 0, "XYZ"), qorl_core::ValueError);
}

}  // namespace
}  // namespace qorl_multimodal::utils::video_utils
