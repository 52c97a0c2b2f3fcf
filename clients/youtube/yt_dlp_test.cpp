#include "clients/youtube/yt_dlp.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "clients/common/run_sync.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace clients::youtube {
namespace {

using ::testing::ElementsAre;

TEST(YoutubeDLTest, TranslatesOptionsToArgumentsWithTheUrlLast) {
  qorl_testing::ScopedEnv tool;
  tool.set("QORL_YT_DLP", "/opt/yt-dlp");
  qorl_testing::ScopedEnv ffmpeg;
  ffmpeg.set("QORL_FFMPEG", "/opt/ffmpeg");
  YoutubeDL ydl({"m4a/bestaudio/best",
                 true,
                 "/tmp/d/%(id)s.%(ext)s",
                 {{"FFmpegExtractAudio", "m4a"}},
                 true,
                 "socks5://127.0.0.1:9"});
  EXPECT_THAT(ydl.command("--exec=rm"),
              ElementsAre("/opt/yt-dlp", "--ignore-config", "--no-cache-dir", "--no-progress",
                          "--format", "m4a/bestaudio/best", "--no-playlist", "--output",
                          "/tmp/d/%(id)s.%(ext)s", "--extract-audio", "--audio-format", "m4a",
                          "--ffmpeg-location", "/opt/ffmpeg", "--quiet", "--proxy",
                          "socks5://127.0.0.1:9", "--print", "after_move:%()j", "--", "--exec=rm"));
  YoutubeDL unknown({"", false, "", {{"FFmpegVideoConvertor", "mp4"}}, false, std::nullopt});
  EXPECT_THROW(unknown.command("x"), std::invalid_argument);
}

TEST(YoutubeDLTest, ExtractsMetadataOnlyWhenNotDownloading) {
  qorl_testing::ScopedEnv env;
  env.set("QORL_YT_DLP", "/opt/yt-dlp").unset("QORL_FFMPEG");
  YoutubeDL ydl({"", true, "", {}, true, "http://127.0.0.1:9"});
  EXPECT_THAT(ydl.command("u", /*download=*/false),
              ElementsAre("/opt/yt-dlp", "--ignore-config", "--no-cache-dir", "--no-progress",
                          "--no-playlist", "--quiet", "--proxy", "http://127.0.0.1:9",
                          "--dump-json", "--skip-download", "--", "u"));
}

TEST(YoutubeDLTest, ReportsErrorLinesOfTheRealProgram) {
  qorl_testing::ScopedEnv tool;
  tool.unset("QORL_YT_DLP");
  try {
    common::run_sync(YoutubeDL({}).async_extract_info("not a url"));
    FAIL();
  } catch (const DownloadError& e) {
    EXPECT_THAT(e.what(), ::testing::StartsWith("ERROR: [generic] "));
    EXPECT_THAT(e.what(), ::testing::HasSubstr("'not a url' is not a valid URL"));
  }
}

TEST(HostileSettings, HangingYtDlpObeysTheCallDeadline) {
  const qorl_testing::TempDir dir;
  const auto program = dir.write("yt-dlp", "#!/bin/sh\nexec sleep 600\n");
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  qorl_testing::ScopedEnv env;
  env.set("QORL_YT_DLP", program.string());
  clients::http::CallPolicy policy = qorl_testing::policy_without_delays();
  policy.retry.deadline = std::chrono::milliseconds(500);
  const qorl_testing::ScopedCallPolicy scoped(policy);
  for (const bool download : {false, true}) {
    try {
      common::run_sync(YoutubeDL({}).async_extract_info("https://127.0.0.1:1/v", download));
      FAIL() << "a hanging yt-dlp was waited for";
    } catch (const ProcessError& e) {
      EXPECT_THAT(e.what(), ::testing::HasSubstr("did not finish within 500 ms"));
    }
  }
}

}  // namespace
}  // namespace clients::youtube
