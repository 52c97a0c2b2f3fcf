// A temporary directory removed with everything in it when the object goes away.
#pragma once

#include <filesystem>
#include <string_view>

namespace qorl_testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }
  // Writes `content` to `name` inside the directory and returns the file's path.
  std::filesystem::path write(std::string_view name, std::string_view content) const;

 private:
  std::filesystem::path path_;
};

}  // namespace qorl_testing
