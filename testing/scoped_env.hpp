// Sets or unsets environment variables for the object's lifetime, then restores them.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qorl_testing {

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  ScopedEnv& set(const std::string& name, const std::string& value);
  ScopedEnv& unset(const std::string& name);

 private:
  void remember(const std::string& name);
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace qorl_testing
