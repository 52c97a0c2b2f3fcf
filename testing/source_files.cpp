#include "testing/source_files.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace qorl_testing {

std::string read_source_file(std::string_view path) {
  const std::string full_path = std::string(QORL_SOURCE_ROOT) + "/" + std::string(path);
  std::ifstream in(full_path, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read " + full_path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace qorl_testing
