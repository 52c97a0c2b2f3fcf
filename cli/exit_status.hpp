// Exit statuses of the command and the error that ends it with a usage status.
#pragma once

#include <stdexcept>

namespace qorl_cli {

enum ExitStatus : int {
  kSuccess = 0,
  kConversionFailed = 1,  // at least one source could not be converted
  kUsageError = 2,        // bad command line, blank source, missing credentials or settings
  // EX_TEMPFAIL: a service's quota ran out, or results wait in a detached batch; a rerun resumes
  kTryAgainLater = 75,
};

// A mistake in what the user asked for, found before any conversion starts.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace qorl_cli
