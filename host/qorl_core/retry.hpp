// Retry settings handed to model invokers.
#pragma once

namespace qorl_core {

struct RetryConfig {
  int max_retries = 3;
  // Seconds per attempt; 0 means no limit. A model that accepts a request and never answers
  // must not hang its caller: the common convention of ten minutes.
  double timeout = 600.0;
};

}  // namespace qorl_core
