// The entry point of every test binary: service calls retry as usual but without waiting, so
// tests of retries never sleep.
#include <gtest/gtest.h>

#include "clients/http/policy.hpp"

int main(int argc, char** argv) {
  clients::http::CallPolicy policy;
  policy.retry = clients::http::RetryPolicy::without_delays();
  clients::http::set_default_call_policy(policy);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
