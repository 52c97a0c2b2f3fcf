#include "testing/temp_dir.hpp"

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace qorl_testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qorl-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::write(std::string_view name, std::string_view content) const {
  const auto file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return file;
}

}  // namespace qorl_testing
