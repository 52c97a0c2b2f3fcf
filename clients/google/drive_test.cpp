#include "clients/google/drive.hpp"

#include <gtest/gtest.h>

#include "clients/common/run_sync.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/google_fakes.hpp"
#include "testing/scoped_call_policy.hpp"

namespace clients::google {
namespace {

using Web = qorl_testing::FakeGoogle::Web;
using common::run_sync;
using qorl_testing::Fault;

DriveClient client_of(const qorl_testing::FakeGoogle& google,
                      std::shared_ptr<Credentials> credentials = nullptr,
                      std::chrono::seconds stall_time = std::chrono::seconds(60)) {
  DriveOptions options;
  options.web_base_url = google.base_url();
  options.api_base_url = google.base_url();
  options.credentials = std::move(credentials);
  options.policy = qorl_testing::policy_without_delays(1);
  options.policy.stall_time = stall_time;
  return DriveClient(std::move(options));
}

std::shared_ptr<ServiceAccountCredentials> credentials_of(const qorl_testing::FakeGoogle& google) {
  return std::make_shared<ServiceAccountCredentials>(ServiceAccountCredentials::from_json(
      google.account().key_json(), {std::string(DRIVE_READONLY_SCOPE)}));
}

TEST(ServiceAccountCredentialsTest, TokenIsCachedUntilShortlyBeforeExpiry) {
  qorl_testing::FakeGoogle google;
  const auto credentials = credentials_of(google);
  const std::string token = run_sync(credentials->access_token());
  EXPECT_EQ(run_sync(credentials->access_token()), token);
  EXPECT_EQ(google.token_requests(), 1);

  // A token that lives less than the refresh margin is exchanged anew on each use.
  google.set_token_lifetime(60);
  const auto short_lived = credentials_of(google);
  run_sync(short_lived->access_token());
  run_sync(short_lived->access_token());
  EXPECT_EQ(google.token_requests(), 3);

  // Another account's assertion is refused with the server's reason.
  qorl_testing::ServiceAccount stranger(google.account().token_uri());
  ServiceAccountCredentials refused = ServiceAccountCredentials::from_json(
      stranger.key_json(), {std::string(DRIVE_READONLY_SCOPE)});
  try {
    run_sync(refused.access_token());
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
  while (!run_sync(downloader.next_chunk())) ++chunks;
  EXPECT_EQ(chunks, 3);
  EXPECT_EQ(buffer, content);
  EXPECT_EQ(downloader.progress().total_size, 2500u);
  EXPECT_EQ(google.media_ranges(),
            (std::vector<std::string>{"bytes=0-999", "bytes=1000-1999", "bytes=2000-2999"}));
  EXPECT_EQ(google.token_requests(), 1);

  std::string unused;
  MediaDownloader missing(client_of(google, credentials_of(google)), "nope", unused);
  try {
    run_sync(missing.next_chunk());
    FAIL();
  } catch (const HttpError& e) {
    EXPECT_EQ(e.status(), 404);
    EXPECT_STREQ(e.what(), ("HttpError 404 when requesting " + google.base_url() +
                            "/drive/v3/files/nope?alt=media returned \"File not found: nope.\"")
                               .c_str());
  }
  MediaDownloader anonymous(client_of(google), "file-1", unused);
  EXPECT_THROW(run_sync(anonymous.next_chunk()), Error);
}

TEST(DriveClientTest, PublicDownloadConfirmsTheVirusScanWarningOnce) {
  qorl_testing::FakeGoogle google;
  google.add_file("small", "small bytes", Web::PUBLIC);
  google.add_file("large", "large bytes", Web::LARGE);
  google.add_file("stubborn", "never", Web::ALWAYS_WARNING);
  const DriveClient drive = client_of(google);

  EXPECT_EQ(run_sync(drive.download_public("small")), "small bytes");
  EXPECT_EQ(google.uc_requests(), 1);
  EXPECT_EQ(run_sync(drive.download_public("large")), "large bytes");
  EXPECT_EQ(google.uc_requests(), 3);
  EXPECT_EQ(run_sync(drive.download_public("stubborn")), qorl_testing::FakeGoogle::warning_page(5));
  EXPECT_EQ(google.uc_requests(), 5);
  try {
    run_sync(drive.download_public("absent"));
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
  EXPECT_THROW(run_sync(drive.download_public("stall")), http::Error);
}

TEST(DriveClientTest, DownloadsAreRetriedAndStopAtTheCap) {
  qorl_testing::FakeGoogle google;
  google.add_file("large", "large bytes", Web::LARGE);
  google.add_file("file-1", std::string(3000, 'x'), Web::SIGN_IN);
  qorl_testing::FaultProxy proxy(google.base_url());
  DriveOptions options;
  options.web_base_url = proxy.url();
  options.api_base_url = proxy.url();
  options.credentials = credentials_of(google);
  options.policy = qorl_testing::policy_without_delays();
  options.policy.max_download_bytes = 1 << 20;
  const DriveClient drive(options);

  // The confirmation goes through a throttled answer with the warning's cookie kept.
  proxy.inject(Fault::answer(429, {{"Retry-After", "Wed, 21 Oct 2099 07:28:00 GMT"}}), "/uc", 2);
  EXPECT_EQ(run_sync(drive.download_public("large")), "large bytes");
  EXPECT_EQ(google.uc_requests(), 2);

  proxy.inject(Fault::answer(503), "/drive/v3/");
  proxy.inject(Fault::reset(), "/drive/v3/");
  std::string buffer;
  MediaDownloader downloader(drive, "file-1", buffer, 1000);
  while (!run_sync(downloader.next_chunk())) {
  }
  EXPECT_EQ(buffer, std::string(3000, 'x'));

  proxy.inject(Fault::endless_body(), "/uc");
  try {
    run_sync(drive.download_public("large"));
    FAIL() << "an endless body was accepted";
  } catch (const http::Error& e) {
    EXPECT_EQ(e.kind(), http::Error::Kind::kTooLarge);
    EXPECT_STREQ(e.what(), ("The answer from " + proxy.url("/uc") +
                            " is larger than the limit of 1048576 bytes")
                               .c_str());
  }
  // A file whose size passes the cap is refused at its first chunk.
  options.policy.max_download_bytes = 2000;
  std::string partial;
  MediaDownloader capped(DriveClient(options), "file-1", partial, 1000);
  EXPECT_THROW(run_sync(capped.next_chunk()), http::Error);
  EXPECT_TRUE(partial.empty());
}

}  // namespace
}  // namespace clients::google
