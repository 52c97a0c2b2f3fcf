#include "clients/google/drive.hpp"

#include <gtest/gtest.h>

#include "testing/google_fakes.hpp"

namespace clients::google {
namespace {

using Web = qorl_testing::FakeGoogle::Web;

DriveClient client_of(const qorl_testing::FakeGoogle& google,
                      std::shared_ptr<Credentials> credentials = nullptr,
                      std::chrono::seconds stall_time = std::chrono::seconds(60)) {
  DriveOptions options;
  options.web_base_url = google.base_url();
  options.api_base_url = google.base_url();
  options.credentials = std::move(credentials);
  options.stall_time = stall_time;
  return DriveClient(std::move(options));
}

std::shared_ptr<ServiceAccountCredentials> credentials_of(const qorl_testing::FakeGoogle& google) {
  return std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
      google.account().key_json(), {std::string(DRIVE_READONLY_SCOPE)}));
}

TEST(ServiceAccountCredentialsTest, TokenIsCachedUntilShortlyBeforeExpiry) {
  qorl_testing::FakeGoogle google;
  const auto credentials = credentials_of(google);
  const std::string token = credentials->access_token();
  EXPECT_EQ(credentials->access_token(), token);
  EXPECT_EQ(google.token_requests(), 1);

  // A token that lives less than the refresh margin is exchanged anew on each use.
  google.set_token_lifetime(60);
  const auto short_lived = credentials_of(google);
  short_lived->access_token();
  short_lived->access_token();
  EXPECT_EQ(google.token_requests(), 3);

  // Another account's assertion is refused with the server's reason.
  qorl_testing::ServiceAccount stranger(google.account().token_uri());
  ServiceAccountCredentials refused =
      ServiceAccountCredentials::from_json(stranger.key_json(), {std::string(DRIVE_READONLY_SCOPE)});
  try {
    refused.access_token();
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "token request failed (invalid_grant: Invalid JWT Signature.)");
  }
}

TEST(DriveClientTest, MediaDownloadsInRangedChunks) {
  qorl_testing::FakeGoogle google;
  std::string content;
  for (int i = 0; i < 2500; ++i) content.push_back(static_cast<char>(i * 7));
  google.add_file("file-1", content, Web::SIGN_IN);

  std::string buffer;
  MediaDownloader downloader(client_of(google, credentials_of(google)), "file-1", buffer, 1000);
  int chunks = 1;
  while (!downloader.next_chunk()) ++chunks;
  EXPECT_EQ(chunks, 3);
  EXPECT_EQ(buffer, content);
  EXPECT_EQ(downloader.progress().total_size, 2500u);
  EXPECT_EQ(google.media_ranges(),
            (std::vector<std::string>{"bytes=0-999", "bytes=1000-1999", "bytes=2000-2999"}));
  EXPECT_EQ(google.token_requests(), 1);

  std::string unused;
  MediaDownloader missing(client_of(google, credentials_of(google)), "nope", unused);
  try {
    missing.next_chunk();
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 404);
    EXPECT_STREQ(e.what(), ("HttpError 404 when requesting " + google.base_url() +
                            "/drive/v3/files/nope?alt=media returned \"File not found: nope.\"")
                               .c_str());
  }
  MediaDownloader anonymous(client_of(google), "file-1", unused);
  EXPECT_THROW(anonymous.next_chunk(), Error);
}

TEST(DriveClientTest, PublicDownloadConfirmsTheVirusScanWarningOnce) {
  qorl_testing::FakeGoogle google;
  google.add_file("small", "small bytes", Web::PUBLIC);
  google.add_file("large", "large bytes", Web::LARGE);
  google.add_file("stubborn", "never", Web::ALWAYS_WARNING);
  const DriveClient drive = client_of(google);

  EXPECT_EQ(drive.download_public("small"), "small bytes");
  EXPECT_EQ(google.uc_requests(), 1);
  EXPECT_EQ(drive.download_public("large"), "large bytes");
  EXPECT_EQ(google.uc_requests(), 3);
  EXPECT_EQ(drive.download_public("stubborn"), qorl_testing::FakeGoogle::warning_page(5));
  EXPECT_EQ(google.uc_requests(), 5);
  try {
    drive.download_public("absent");
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 404);
    EXPECT_STREQ(e.what(), ("404 Client Error: Not Found for url: " + google.base_url() +
                            "/uc?export=download&id=absent")
                               .c_str());
  }
}

TEST(DriveClientTest, StalledPublicDownloadIsAbandoned) {
  qorl_testing::FakeGoogle google;
  google.add_file("stall", "first bytes", Web::STALL);
  const DriveClient drive = client_of(google, nullptr, std::chrono::seconds(1));
  EXPECT_THROW(drive.download_public("stall"), http::Error);
}

}  // namespace
}  // namespace clients::google
