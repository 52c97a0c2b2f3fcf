// The error kind of failed model calls.
#pragma once

#include "qorl_core/errors.hpp"

namespace qorl_inference {

// A model request failed (network, quota, authentication, a refused or unusable answer). The
// message says what happened and never carries a credential.
class BaseInvokerError : public qorl_core::Error {
 public:
  using qorl_core::Error::Error;
};

}  // namespace qorl_inference
