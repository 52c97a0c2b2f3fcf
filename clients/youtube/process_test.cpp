#include "clients/youtube/process.hpp"

#include <gtest/gtest.h>

namespace clients::youtube {
namespace {

TEST(RunProcessTest, PassesArgumentsVerbatimWithoutAShell) {
  const auto result = run_process({"printf", "%s|", "a b", "$HOME", "`id`", ";", "*"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, "a b|$HOME|`id`|;|*|");
}

TEST(RunProcessTest, CollectsLargeOutputOnBothStreamsAndTheExitStatus) {
  // More than a pipe holds on each stream: reading only one would deadlock.
  const auto result = run_process(
      {"sh", "-c", "head -c 300000 /dev/zero; head -c 200000 /dev/zero >&2; exit 3"});
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(result.out.size(), 300000u);
  EXPECT_EQ(result.err.size(), 200000u);
  EXPECT_EQ(run_process({"sh", "-c", "kill -9 $$"}).exit_code, 128 + 9);
  EXPECT_EQ(run_process({"cat"}).out, "");  // standard input is empty, not the test's
}

TEST(RunProcessTest, MissingProgramIsAProcessError) {
  try {
    run_process({"/nonexistent/yt-dlp", "--version"});
    FAIL();
  } catch (const ProcessError& e) {
    EXPECT_STREQ(e.what(), "cannot run /nonexistent/yt-dlp: No such file or directory");
  }
}

}  // namespace
}  // namespace clients::youtube
