#include "clients/common/secret_text.hpp"

#include <algorithm>
#include <string>

namespace clients::common {

void check_credential(std::string_view value, std::string_view what) {
  const bool control = std::any_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
  if (control) {
    throw InvalidCredential(std::string(what) +
                            " contains a control character (such as a line break); refused");
  }
}

}  // namespace clients::common
