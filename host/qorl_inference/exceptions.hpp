// The error kind of failed model calls.
#pragma once

#include <string>
#include <utility>

#include "qorl_core/errors.hpp"

namespace qorl_inference {

// A model request failed (network, quota, authentication, a refused or unusable answer). The
// message says what happened and never carries a credential.
class BaseInvokerError : public qorl_core::Error {
 public:
  using qorl_core::Error::Error;
};

// The service refused the request because a quota ran out that waiting will not restore (a
// per-day quota, an account out of credit): it is not retried, and further requests to that
// service, key and model are refused at once with this error when they share a rate limiter.
class QuotaExhausted : public BaseInvokerError {
 public:
  QuotaExhausted(const std::string& message, std::string service, std::string quota)
      : BaseInvokerError(message), service_(std::move(service)), quota_(std::move(quota)) {}
  const std::string& service() const noexcept { return service_; }
  // The quota that ran out, as the service names it
  // ("GenerateRequestsPerDayPerProjectPerModel-FreeTier", "insufficient_quota").
  const std::string& quota() const noexcept { return quota_; }

 private:
  std::string service_;
  std::string quota_;
};

}  // namespace qorl_inference
