// Loopback helpers: every test server binds 127.0.0.1.
#pragma once

namespace qorl_testing {

// A TCP port on 127.0.0.1 that was free a moment ago.
int free_loopback_port();

}  // namespace qorl_testing
