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

// Not a failure: the request was submitted to a remote batch job in detached mode (or waits in
// one submitted earlier that is still running), and a later run collects its answer by resuming
// `batch_name`.
class BatchPending : public qorl_core::Error {
 public:
  explicit BatchPending(std::string batch_name)
      : qorl_core::Error("waiting in " + batch_name + ": run again to collect the answer"),
        batch_name_(std::move(batch_name)) {}
  const std::string& batch_name() const noexcept { return batch_name_; }

 private:
  std::string batch_name_;
};

}  // namespace qorl_inference
