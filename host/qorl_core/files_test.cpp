#include "qorl_core/files.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace qorl_core {
namespace {

TEST(TemporaryDirectoryTest, EachIsNewAndGoesAwayWithItsContents) {
  std::filesystem::path kept;
  {
    const TemporaryDirectory first("qorl-files-test");
    const TemporaryDirectory second("qorl-files-test");
    kept = first.path();
    EXPECT_NE(first.path(), second.path());
    EXPECT_TRUE(first.path().filename().string().starts_with("qorl-files-test-"));
    std::filesystem::create_directory(kept / "inner");
    std::ofstream(kept / "inner" / "file.txt") << "content";
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
}

}  // namespace
}  // namespace qorl_core
