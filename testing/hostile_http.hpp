// A compression bomb for tests against hostile servers.
#pragma once

#include <cstdint>
#include <string>

namespace qorl_testing {

// A gzip member that decodes to `size` zero bytes (about a thousandth of that on the wire).
std::string gzip_of_zeros(std::uint64_t size);

}  // namespace qorl_testing
