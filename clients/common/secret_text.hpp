// Checks of the keys and tokens that go into request headers.
#pragma once

#include <stdexcept>
#include <string_view>

namespace clients::common {

// A key or token that cannot be sent: it holds a control character.
class InvalidCredential : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Throws InvalidCredential when `value` holds a control character (CR and LF among them), which
// would split or end the header it is sent in. `what` names it ("The OpenAI API key"); the
// message never shows the value.
void check_credential(std::string_view value, std::string_view what);

}  // namespace clients::common
