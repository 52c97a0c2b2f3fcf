#include "clients/youtube/yt_dlp.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "clients/youtube/ffmpeg.hpp"
#include "clients/youtube/process.hpp"
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
  YoutubeDL ydl({"m4a/bestaudio/best", true, "/tmp/d/%(id)s.%(ext)s",
                 {{"FFmpegExtractAudio", "m4a"}}, true, "socks5://127.0.0.1:9"});
  EXPECT_THAT(ydl.command("--exec=rm"),
              ElementsAre("/opt/yt-dlp", "--ignore-config", "--no-cache-dir", "--no-progress",
                          "--format", "m4a/bestaudio/best", "--no-playlist", "--output",
                          "/tmp/d/%(id)s.%(ext)s", "--extract-audio", "--audio-format", "m4a",
                          "--ffmpeg-location", "/opt/ffmpeg", "--quiet", "--proxy",
                          "socks5://127.0.0.1:9", "--print", "after_move:%()j", "--",
                          "--exec=rm"));
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

TEST(FfmpegTest, TranscodesToFlacOrReportsFfmpegsError) {
  qorl_testing::ScopedEnv ffmpeg;
  ffmpeg.unset("QORL_FFMPEG");
  const qorl_testing::TempDir dir;
  const auto made = run_process({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                 "sine=duration=0.5", "-c:a", "aac",
                                 (dir.path() / "-odd name.m4a").string()});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  transcode_to_flac(dir.path() / "-odd name.m4a", dir.path() / "out.flac");
  std::ifstream flac(dir.path() / "out.flac", std::ios::binary);
  char magic[4] = {};
  flac.read(magic, 4);
  EXPECT_EQ(std::string(magic, 4), "fLaC");

  const auto text = dir.write("notes.m4a", "not media");
  EXPECT_THROW(transcode_to_flac(text, dir.path() / "bad.flac"), PostProcessingError);
}

}  // namespace
}  // namespace clients::youtube
