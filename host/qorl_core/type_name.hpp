// Simple (unqualified, demangled) names of C++ types, as loggers and messages show them.
#pragma once

#include <string>
#include <typeinfo>

namespace qorl_core {

// "qorl_multimodal::x::LMBasedImageToCaption" -> "LMBasedImageToCaption".
std::string simple_type_name(const std::type_info& type);

template <typename T>
std::string simple_type_name() {
  return simple_type_name(typeid(T));
}

}  // namespace qorl_core
