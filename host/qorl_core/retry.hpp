// Retry settings handed to model invokers.
#pragma once

namespace qorl_core {

struct RetryConfig {
  int max_retries = 3;
  double timeout = 0.0;  // seconds per attempt; 0 means no limit
};

}  // namespace qorl_core
