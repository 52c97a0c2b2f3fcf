#include "testing/scoped_env.hpp"

#include <cstdlib>

namespace qorl_testing {

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      ::setenv(it->first.c_str(), it->second->c_str(), 1);
    } else {
      ::unsetenv(it->first.c_str());
    }
  }
}

void ScopedEnv::remember(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

ScopedEnv& ScopedEnv::set(const std::string& name, const std::string& value) {
  remember(name);
  ::setenv(name.c_str(), value.c_str(), 1);
  return *this;
}

ScopedEnv& ScopedEnv::unset(const std::string& name) {
  remember(name);
  ::unsetenv(name.c_str());
  return *this;
}

}  // namespace qorl_testing
