// Runs an asynchronous operation to completion on a fresh event loop of the calling thread.
#pragma once

#include "clients/common/run_sync.hpp"

namespace qorl_core {

using clients::common::in_event_loop_thread;
using clients::common::run_sync;

}  // namespace qorl_core
