#include "qorl_core/type_name.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>

namespace qorl_core {

std::string simple_type_name(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
  std::string name = status == 0 && demangled ? demangled.get() : type.name();
  // Drop template arguments, then every enclosing scope.
  if (auto angle = name.find('<'); angle != std::string::npos) name.erase(angle);
  if (auto scope = name.rfind("::"); scope != std::string::npos) name.erase(0, scope + 2);
  return name;
}

}  // namespace qorl_core
