// Tools for tests against hostile servers: a compression bomb to serve, and the peak memory of
// work done in a process of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qorl_testing {

// A gzip member that decodes to `size` zero bytes (about a thousandth of that on the wire).
std::string gzip_of_zeros(std::uint64_t size);

// Runs `work` in a forked child and gives the child's peak resident set (VmHWM) in bytes, its
// start included: what the parent had resident when forking. `work` runs on the forking thread
// only; servers in threads of the parent keep serving it. Throws std::runtime_error when the
// child cannot report (it crashed or `work` threw).
std::uint64_t peak_memory_of_child(const std::function<void()>& work);

}  // namespace qorl_testing
