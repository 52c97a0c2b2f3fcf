#include "qorl_multimodal/utils/image_utils.hpp"

#include <gtest/gtest.h>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "testing/google_fakes.hpp"
#include "testing/http_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::image_utils {
namespace {

using qorl_core::Bytes;
using qorl_core::Value;

constexpr char kLogger[] = "qorl_multimodal.utils.image_utils";

class ImageUtilsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/images/cat.png", [this](const httplib::Request&, httplib::Response& r) {
      r.set_content(png_.str(), "application/octet-stream");
    });
    server_.server().Get("/page.html", [](const httplib::Request&, httplib::Response& r) {
      r.set_content("<html><body>not an image</body></html>", "text/html");
    });
    server_.start();
    // Drive ids go to a fake Drive host that knows no file.
    env_.set("QORL_GDRIVE_BASE_URL", google_.base_url())
        .set("QORL_GOOGLEAPIS_BASE_URL", google_.base_url())
        .unset("GCP_CREDENTIALS")
        .unset("GOOGLE_APPLICATION_CREDENTIALS");
  }

  static ImageBinary resolve(const Value& source) {
    return qorl_core::run_sync(get_image_binary(source));
  }
  static void expect_unsupported(const Value& source) {
    try {
      resolve(source);
      FAIL() << "resolved " << qorl_core::repr(source);
    } catch (const qorl_core::ValueError& error) {
      EXPECT_STREQ(error.what(), "Unsupported image format");
    }
  }

  const Bytes png_ = qorl_testing::encode_image(".png");
  const Bytes jpeg_ = qorl_testing::encode_image(".jpg");
  qorl_testing::HttpServer server_;
  qorl_testing::FakeGoogle google_;
  qorl_testing::ScopedEnv env_;
  qorl_testing::TempDir dir_;
  qorl_testing::LogCapture capture_;
};

TEST_F(ImageUtilsTest, ImageBytesAndBase64NeedNoFetch) {
  EXPECT_EQ(resolve(png_), (ImageBinary{png_, "not_given"}));
  EXPECT_EQ(resolve(qorl_core::base64_encode(jpeg_.view())), (ImageBinary{jpeg_, "not_given"}));
  // Bytes holding base64 text of an image resolve through the base64 step.
  EXPECT_EQ(resolve(Bytes(qorl_core::base64_encode(png_.view()))),
            (ImageBinary{png_, "not_given"}));
  EXPECT_FALSE(capture_.contains("Attempting to read image file from file path: not_given"));
  for (const auto& line : capture_.messages())
    EXPECT_EQ(line.find("Attempting to download"), std::string::npos);
}

TEST_F(ImageUtilsTest, ContentDecidesNotNamesOrPrefixes) {
  // Non-image bytes never reach the external steps.
  expect_unsupported(Bytes("plain text, not an image"));
  for (const auto& line : capture_.messages())
    EXPECT_EQ(line.find("Attempting to read"), std::string::npos);

  expect_unsupported("data:image/jpeg;base64," + qorl_core::base64_encode(jpeg_.view()));
  capture_.clear();
  // Base64 of a text file decodes, fails the content check, then tries every external kind.
  expect_unsupported(qorl_core::base64_encode("hello there, plain text"));
  EXPECT_TRUE(
      capture_.contains("The provided binary data is not a valid image file with error: "
                        "Not an image file. Detected MIME type: text/plain"));
  EXPECT_FALSE(capture_.messages(kLogger).empty());
  EXPECT_EQ(capture_.messages(kLogger).back(),
            "Failed to get image binary data from source: " +
                qorl_core::base64_encode("hello there, plain text"));
  expect_unsupported(Value(42));
}

TEST_F(ImageUtilsTest, LocalFilesAndUrlsGiveTheirNames) {
  const auto photo = dir_.write("photo.png", png_.str());
  EXPECT_EQ(resolve(photo.string()), (ImageBinary{png_, "photo.png"}));
  expect_unsupported(dir_.write("notes.txt", "just words").string());

  EXPECT_EQ(resolve(server_.url("/images/cat.png?size=2")), (ImageBinary{png_, "cat.png"}));
  EXPECT_TRUE(capture_.contains("Image source is a valid image URL: " +
                                server_.url("/images/cat.png?size=2")));
  expect_unsupported(server_.url("/page.html"));
}

TEST_F(ImageUtilsTest, LongSourcesAreLoggedTruncatedOnce) {
  const std::string exact = std::string(510, 'a') + "/x", longer = std::string(512, 'b') + "/c";
  expect_unsupported(exact);
  expect_unsupported(longer);
  EXPECT_TRUE(capture_.contains("Getting image binary data from source: " + exact));
  EXPECT_TRUE(capture_.contains("Getting image binary data from source: " + std::string(512, 'b')));
  EXPECT_TRUE(capture_.contains("Failed to get image binary data from source: " + longer));
}

TEST(ImageTextsTest, UniqueNonEmptyStringsAndCombining) {
  EXPECT_EQ(get_unique_non_empty_strings({" a ", "a", "", "  ", "b"}),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(get_unique_non_empty_strings({"\u3000a\u00A0", "a", "\u2028", "\u00A0", "b\u00A0c"}),
            (std::vector<std::string>{"a", "b\u00A0c"}));
  EXPECT_TRUE(get_unique_non_empty_strings({}).empty());
  EXPECT_EQ(combine_strings({"a", "", "b"}), "a\n\nb");
  EXPECT_EQ(combine_strings({}), "");
}

}  // namespace
}  // namespace qorl_multimodal::utils::image_utils
