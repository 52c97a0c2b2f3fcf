// Programs run to completion from synchronous test and benchmark code.
#pragma once

#include <string>
#include <vector>

#include "clients/process/process.hpp"

namespace qorl_testing {

// clients::process::async_run_process on a private event loop of the calling thread.
clients::process::ProcessResult run_process(std::vector<std::string> argv,
                                            clients::process::ProcessOptions options = {});

}  // namespace qorl_testing
