// Standard base64 (RFC 4648 alphabet with padding); one codec shared with the clients.
#pragma once

#include "clients/common/base64.hpp"

namespace qorl_core {

using clients::common::base64_append;
using clients::common::base64_decode;
using clients::common::base64_encode;

}  // namespace qorl_core
