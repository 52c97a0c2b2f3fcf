// Work run in a forked child process, for the memory it alone takes: the parent (its fake
// services among it) holds nothing the measure would count.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace qorl_testing {

// AddressSanitizer shadows every byte and keeps freed memory in quarantine: resident memory says
// nothing about the code's own use there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoryMeasurable = false;
#else
inline constexpr bool kMemoryMeasurable = true;
#endif

struct ChildRun {
  std::string result;         // what the work returned, or "error: " and what it threw
  std::size_t start_rss = 0;  // resident bytes when the work began
  std::size_t peak_rss = 0;   // the most resident bytes while it ran
  std::size_t peak_growth() const { return peak_rss > start_rss ? peak_rss - start_rss : 0; }
};

// Runs `work` in a forked child and waits for it. Threads of the parent do not run in the child,
// but they keep serving the parent's fake services, which the child reaches over loopback.
ChildRun run_in_child(const std::function<std::string()>& work);

}  // namespace qorl_testing
