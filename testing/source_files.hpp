// Files of the source tree read by tests: package headers, reference texts under testdata/.
#pragma once

#include <string>
#include <string_view>

namespace qorl_testing {

// The whole content of `path`, given from the repository root; throws when it cannot be read.
std::string read_source_file(std::string_view path);

}  // namespace qorl_testing
