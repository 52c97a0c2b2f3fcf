#include "testing/run_program.hpp"

#include "clients/common/run_sync.hpp"

namespace qorl_testing {

clients::process::ProcessResult run_process(std::vector<std::string> argv,
                                            clients::process::ProcessOptions options) {
  return clients::common::run_sync(
      clients::process::async_run_process(std::move(argv), std::move(options)));
}

}  // namespace qorl_testing
