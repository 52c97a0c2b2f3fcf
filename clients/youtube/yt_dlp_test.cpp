#include "clients/youtube/yt_dlp.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "testing/scoped_env.hpp"

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
    YoutubeDL({}).extract_info("not a url");
    FAIL();
  } catch (const DownloadError& e) {
    EXPECT_THAT(e.what(), ::testing::StartsWith("ERROR: [generic] "));
    EXPECT_THAT(e.what(), ::testing::HasSubstr("'not a url' is not a valid URL"));
  }
}

}  // namespace
}  // namespace clients::youtube
