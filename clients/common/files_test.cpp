#include "clients/common/files.hpp"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <system_error>

#include "testing/temp_dir.hpp"

namespace clients::common {
namespace {

std::string refusal(const std::string& path, std::uint64_t max_bytes) {
  try {
    read_regular_file(path, max_bytes);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "(read)";
}

TEST(HostileCredentialFiles, OnlyRegularFilesWithinTheCapAreRead) {
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
