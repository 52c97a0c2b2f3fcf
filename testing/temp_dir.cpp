#include "testing/temp_dir.hpp"

#include <fstream>

namespace qorl_testing {

std::filesystem::path TempDir::write(std::string_view name, std::string_view content) const {
  const auto file = path() / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return file;
}

}  // namespace qorl_testing
