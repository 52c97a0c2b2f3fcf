#include "qorl_multimodal/utils/gdrive_utils.hpp"

#include <gtest/gtest.h>

#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"
#include "testing/google_fakes.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::gdrive_utils {
namespace {

using qorl_core::run_sync;

using Web = qorl_testing::FakeGoogle::Web;
const std::string LOGGER = "qorl_multimodal.utils.gdrive_utils";
const std::string ID20 = "abcdefghij_KLMNO-123";

TEST(ExtractGdriveFileIdTest, LinksAndBareIds) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(_extract_gdrive_file_id("https://drive.google.com/file/d/1AbC_d-9/view?usp=sharing"),
            "1AbC_d-9");
  EXPECT_EQ(_extract_gdrive_file_id("see http://drive.google.com/open?id=XyZ&x=1"), "XyZ");
  EXPECT_EQ(_extract_gdrive_file_id("https://drive.google.com/uc?id=Q1&export=download"), "Q1");
  EXPECT_EQ(_extract_gdrive_file_id(ID20), ID20);
  EXPECT_TRUE(capture.messages().empty());

  for (const std::string& rejected : std::vector<std::string>{
           ID20.substr(1), "abcdefghij.KLMNO-1234", "https://drive.google.com/open?usp=x&id=XyZ",
           "https://DRIVE.google.com/file/d/abc", "HTTPS://drive.google.com/file/d/abc"}) {
    EXPECT_EQ(_extract_gdrive_file_id(rejected), std::nullopt) << rejected;
    EXPECT_EQ(capture.messages(LOGGER),
              std::vector<std::string>{"Could not extract Google Drive file ID from source: " +
                                       rejected});
    capture.clear();
  }
  // Megabytes of base64-like text are searched without trouble.
  EXPECT_EQ(_extract_gdrive_file_id(std::string(4 << 20, 'A') + "="), std::nullopt);
}

class GdriveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.set("QORL_GDRIVE_BASE_URL", google_.base_url())
        .set("QORL_GOOGLEAPIS_BASE_URL", google_.base_url())
        .unset("GCP_CREDENTIALS")
        .unset("GOOGLE_APPLICATION_CREDENTIALS");
    key_file_ = dir_.write("key.json", google_.account().key_json()).string();
  }

  qorl_testing::FakeGoogle google_;
  qorl_testing::TempDir dir_;
  qorl_testing::ScopedEnv env_;
  std::string key_file_;
};

TEST_F(GdriveTest, PublicFilesNeverReachTheApi) {
  google_.add_file(ID20, "public bytes", Web::PUBLIC);
  google_.add_file("LargeFileId", "large bytes", Web::LARGE);
  env_.set("GCP_CREDENTIALS", key_file_);
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_file_from_gdrive(ID20))->str(), "public bytes");
  EXPECT_EQ(
      run_sync(get_file_from_gdrive("https://drive.google.com/file/d/LargeFileId/view"))->str(),
      "large bytes");
  EXPECT_EQ(google_.uc_requests(), 3);
  EXPECT_EQ(google_.token_requests(), 0);
  EXPECT_TRUE(capture.messages().empty());
}

TEST_F(GdriveTest, ASecondWarningIsNotFollowed) {
  google_.add_file("Stubborn", "never", Web::ALWAYS_WARNING);
  EXPECT_EQ(run_sync(get_file_from_gdrive("https://drive.google.com/uc?id=Stubborn"))->str(),
            qorl_testing::FakeGoogle::warning_page(2));
  EXPECT_EQ(google_.uc_requests(), 2);
}

TEST_F(GdriveTest, SignInPageFallsBackToTheApi) {
  google_.add_file("Private", "private bytes", Web::SIGN_IN);
  env_.set("GCP_CREDENTIALS", "").set("GOOGLE_APPLICATION_CREDENTIALS", key_file_);
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_file_from_gdrive("https://drive.google.com/open?id=Private"))->str(),
            "private bytes");
  EXPECT_EQ(capture.messages(LOGGER),
            std::vector<std::string>{
                "Google Drive direct download response indicates sign-in required."});
  EXPECT_EQ(google_.media_ranges(), std::vector<std::string>{"bytes=0-104857599"});
}

TEST_F(GdriveTest, WithoutKeyFileTheApiIsNotTried) {
  google_.add_file("Private", "private bytes", Web::SIGN_IN);
  qorl_testing::LogCapture capture;
  const std::vector<std::string> expected{
      "Google Drive direct download response indicates sign-in required.",
      "No GCP credentials found for Google Drive API download"};
  EXPECT_EQ(run_sync(get_file_from_gdrive("https://drive.google.com/uc?id=Private")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER), expected);
  capture.clear();
  env_.set("GCP_CREDENTIALS", (dir_.path() / "absent.json").string());
  EXPECT_EQ(run_sync(get_file_from_gdrive("https://drive.google.com/uc?id=Private")), std::nullopt);
  EXPECT_EQ(capture.messages(LOGGER), expected);
  EXPECT_EQ(google_.token_requests(), 0);
  EXPECT_TRUE(google_.media_ranges().empty());
}

TEST_F(GdriveTest, FailuresOfBothPathsEndInNone) {
  env_.set("GCP_CREDENTIALS", key_file_);
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_file_from_gdrive("https://drive.google.com/uc?id=Gone")), std::nullopt);
  const std::string base = google_.base_url();
  EXPECT_EQ(capture.messages(LOGGER),
            (std::vector<std::string>{
                "Failed direct download from Google Drive: 404 Client Error: Not Found for url: " +
                    base + "/uc?export=download&id=Gone",
                "Failed to download from Google Drive using API: HttpError 404 when requesting " +
                    base + "/drive/v3/files/Gone?alt=media returned \"File not found: Gone.\""}));
  capture.clear();
  env_.set("GCP_CREDENTIALS", dir_.write("bad.json", "{}").string());
  EXPECT_EQ(run_sync(_download_gdrive_api("Gone")), std::nullopt);
  EXPECT_EQ(
      capture.messages(LOGGER),
      std::vector<std::string>{"Failed to download from Google Drive using API: Service account "
                               "info was not in the expected format, missing fields "
                               "client_email, private_key, token_uri."});
}

TEST_F(GdriveTest, SignInMarkersSurviveUndecodableBytes) {
  google_.add_file("Text", std::string("note: Sign\xff\xfe in later"), Web::PUBLIC);
  google_.add_file("Binary", "\x89PNG\r\n\x1a\n\xc3\xa9 Sig\xe2\x82n", Web::PUBLIC);
  EXPECT_EQ(run_sync(_download_gdrive_direct("Text")), std::nullopt);
  EXPECT_EQ(run_sync(_download_gdrive_direct("Binary"))->size(), 17u);
}

using HostileDrive = GdriveTest;

TEST_F(HostileDrive, DriveLinksGoOnlyToTheOverriddenEndpoint) {
  const std::string link = "https://drive.google.com/file/d/" + ID20 + "/view";
  const qorl_core::Bytes png = qorl_testing::encode_image(".png");
  google_.add_file(ID20, png.str(), Web::PUBLIC);
  qorl_testing::LogCapture capture;
  const auto image = run_sync(image_utils::get_image_binary(link));
  EXPECT_EQ(image.first, png);
  // Only the Drive step ran, against the fake: no plain download of the link was tried.
  for (const std::string& line : capture.messages("qorl_multimodal.utils.source_utils")) {
    EXPECT_EQ(line.find("download file from URL"), std::string::npos) << line;
  }
  EXPECT_EQ(google_.uc_requests(), 1);

  EXPECT_TRUE(is_drive_link_sent_elsewhere(link));
  EXPECT_FALSE(is_drive_link_sent_elsewhere(google_.base_url() + "/file/d/" + ID20));
  EXPECT_FALSE(is_drive_link_sent_elsewhere(ID20));
  env_.unset("QORL_GDRIVE_BASE_URL");
  EXPECT_FALSE(is_drive_link_sent_elsewhere(link));
}

}  // namespace
}  // namespace qorl_multimodal::utils::gdrive_utils
