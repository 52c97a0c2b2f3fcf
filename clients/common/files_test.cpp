#include "clients/common/files.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <system_error>

#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace clients::common {
namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::size_t entries_in(const fs::path& dir) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(WriteFileAtomicallyTest, ReplacesTheFileWholeWithTheUsualMode) {
  const qorl_testing::TempDir dir;
  const fs::path path = dir.path() / "result.txt";
  const mode_t before = ::umask(027);
  write_file_atomically(path, "first, and longer\n");
  write_file_atomically(path, "second\n");
  ::umask(before);
  EXPECT_EQ(read(path), "second\n");
  EXPECT_EQ(mode_of(path), 0640u);
  EXPECT_EQ(entries_in(dir.path()), 1u);
}

TEST(WriteFileAtomicallyTest, FailureLeavesNothingBehind) {
  const qorl_testing::TempDir dir;
  fs::create_directory(dir.path() / "taken");
  dir.write("taken/inside.txt", "kept");
  try {
    write_file_atomically(dir.path() / "taken", "text");
    FAIL() << "a directory was replaced";
  } catch (const std::system_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot write " + (dir.path() / "taken").string() + ": " + std::strerror(EISDIR));
  }
  EXPECT_EQ(read(dir.path() / "taken" / "inside.txt"), "kept");
  EXPECT_EQ(entries_in(dir.path()), 1u);
  EXPECT_THROW(write_file_atomically(dir.path() / "missing" / "a.txt", "text"), std::system_error);
}

TEST(TemporaryPathTest, NamedWithThePidPrivateAndRemoved) {
  const qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  env.set("TMPDIR", dir.path().string());
  fs::path kept;
  {
    const TemporaryFile file("qorl-files-test", "content");
    kept = file.path();
    EXPECT_EQ(kept.parent_path(), dir.path());
    EXPECT_TRUE(kept.filename().string().starts_with("qorl-files-test-" +
                                                     std::to_string(::getpid()) + "-"));
    EXPECT_EQ(read(kept), "content");
    EXPECT_EQ(mode_of(kept), 0600u);
    const TemporaryDirectory directory("qorl-files-test");
    EXPECT_EQ(mode_of(directory.path()), 0700u);
  }
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_EQ(entries_in(dir.path()), 0u);
}

// What a process ending on a signal calls: its temporaries go, and no new one is made.
TEST(TemporaryPathTest, RemoveTemporariesRemovesThemAll) {
  const qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  env.set("TMPDIR", dir.path().string());
  EXPECT_EXIT(
      {
        const TemporaryFile file("qorl-files-test", "content");
        const TemporaryDirectory directory("qorl-files-test");
        std::ofstream(directory.path() / "inner.txt") << "inner";
        remove_temporaries();
        bool refused = false;
        try {
          TemporaryFile("qorl-files-test", "late");
        } catch (const std::system_error&) {
          refused = true;
        }
        // The test's own directory is one of them.
        std::_Exit(refused && !fs::exists(dir.path()) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

std::string refusal(const std::string& path, std::uint64_t max_bytes) {
  try {
    read_regular_file(path, max_bytes);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(read)";
}

TEST(ReadRegularFileTest, OnlyRegularFilesWithinTheCapAreRead) {
  qorl_testing::TempDir dir;
  const std::string small = dir.write("key.json", "{}").string();
  EXPECT_EQ(read_regular_file(small, 2), "{}");
  EXPECT_EQ(refusal(small, 1), small + " is larger than the 1 bytes allowed for it; refused");

  // Endless or blocking sources are refused before a byte is read.
  EXPECT_EQ(refusal("/dev/zero", MAX_CREDENTIALS_FILE_BYTES),
            "/dev/zero is not a regular file (a character device); refused");
  const std::string fifo = (dir.path() / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(refusal(fifo, MAX_CREDENTIALS_FILE_BYTES),
            fifo + " is not a regular file (a named pipe); refused");
  EXPECT_EQ(refusal(dir.path().string(), MAX_CREDENTIALS_FILE_BYTES),
            dir.path().string() + " is not a regular file (a directory); refused");

  try {
    read_regular_file((dir.path() / "absent").string(), MAX_CREDENTIALS_FILE_BYTES);
    FAIL() << "a missing file was read";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
  }
}

}  // namespace
}  // namespace clients::common
