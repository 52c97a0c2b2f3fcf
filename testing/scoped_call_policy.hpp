// Puts a call policy in place as the process-wide default for the object's lifetime, then
// restores the previous one: clients built meanwhile retry without waiting.
#pragma once

#include "clients/http/policy.hpp"

namespace qorl_testing {

// The default limits, with `attempts` attempts and no waits between them.
inline clients::http::CallPolicy policy_without_delays(int attempts = 4) {
  clients::http::CallPolicy policy;
  policy.retry = clients::http::RetryPolicy::without_delays(attempts);
  return policy;
}

class ScopedCallPolicy {
 public:
  explicit ScopedCallPolicy(clients::http::CallPolicy policy = policy_without_delays())
      : saved_(clients::http::default_call_policy()) {
    clients::http::set_default_call_policy(std::move(policy));
  }
  ~ScopedCallPolicy() { clients::http::set_default_call_policy(saved_); }
  ScopedCallPolicy(const ScopedCallPolicy&) = delete;
  ScopedCallPolicy& operator=(const ScopedCallPolicy&) = delete;

 private:
  clients::http::CallPolicy saved_;
};

}  // namespace qorl_testing
