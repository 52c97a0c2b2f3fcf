// A temporary directory removed with everything in it when the object goes away.
#pragma once

#include <filesystem>
#include <string_view>

#include "qorl_core/files.hpp"

namespace qorl_testing {

class TempDir : public qorl_core::TemporaryDirectory {
 public:
  TempDir() : TemporaryDirectory("qorl-test") {}

  // Writes `content` to `name` inside the directory and returns the file's path.
  std::filesystem::path write(std::string_view name, std::string_view content) const;
};

}  // namespace qorl_testing
