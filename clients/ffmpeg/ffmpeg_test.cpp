#include "clients/ffmpeg/ffmpeg.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "clients/common/run_sync.hpp"
#include "clients/process/process.hpp"
#include "testing/run_program.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace clients::ffmpeg {
namespace {

namespace fs = std::filesystem;
using common::run_sync;

class FfmpegTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.unset("QORL_FFMPEG"); }

  // A tone made by ffmpeg itself in the container `name` names.
  fs::path make(const std::string& name, const std::string& codec) const {
    const fs::path path = dir_.path() / name;
    const auto made =
        qorl_testing::run_process({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                   "sine=duration=0.5", "-c:a", codec, path.string()});
    EXPECT_EQ(made.exit_code, 0) << made.err;
    return path;
  }

  static std::string read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
  }

  qorl_testing::ScopedEnv env_;
  qorl_testing::TempDir dir_;
};

TEST_F(FfmpegTest, TranscodesToFlacOrReportsFfmpegsError) {
  const fs::path m4a = make("-odd name.m4a", "aac");
  run_sync(async_transcode_to_flac(m4a, dir_.path() / "out.flac"));
  EXPECT_EQ(read(dir_.path() / "out.flac").substr(0, 4), "fLaC");

  const auto text = dir_.write("notes.m4a", "not media");
  EXPECT_THROW(run_sync(async_transcode_to_flac(text, dir_.path() / "bad.flac")), FfmpegError);
}

TEST_F(FfmpegTest, DecodesPipedAndMp4MediaToAuAndLeavesNoTemporaryFile) {
  const fs::path temporary = dir_.path() / "tmp";
  fs::create_directory(temporary);
  qorl_testing::ScopedEnv tmpdir;
  tmpdir.set("TMPDIR", temporary.string());
  for (const auto& [name, codec] : {std::pair{"a.m4a", "aac"}, {"a.opus", "libopus"}}) {
    const std::string media = read(make(name, codec));
    const std::string au =
        run_sync(async_decode_audio(media, {.sample_rate = 16000, .channels = 1}));
    EXPECT_EQ(au.substr(0, 4), ".snd") << name;
    // 0.5 s at 16 kHz, 3 bytes a sample, give or take the codec's padding.
    EXPECT_NEAR(static_cast<double>(au.size()), 24000.0, 3000.0) << name;
  }
  EXPECT_TRUE(fs::is_empty(temporary));

  EXPECT_THAT([] { run_sync(async_decode_audio("not media at all")); },
              ::testing::Throws<FfmpegError>());
}

}  // namespace
}  // namespace clients::ffmpeg
