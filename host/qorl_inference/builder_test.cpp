#include "qorl_inference/builder.hpp"

#include <gtest/gtest.h>

#include "qorl_inference/google_lm_invoker.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"
#include "testing/scoped_env.hpp"

namespace qorl_inference {
namespace {

TEST(BuildLMInvokerTest, PicksTheProviderByModelId) {
  qorl_testing::ScopedEnv env;
  env.unset("GOOGLE_GEMINI_BASE_URL").set("OPENAI_BASE_URL", "http://127.0.0.1:1/v1");
  auto google =
      std::dynamic_pointer_cast<GoogleLMInvoker>(build_lm_invoker("google/gemini-2.5-flash"));
  ASSERT_TRUE(google);
  EXPECT_EQ(google->model_name(), "gemini-2.5-flash");
  EXPECT_EQ(google->base_url(), "https://generativelanguage.googleapis.com");

  auto openai = std::dynamic_pointer_cast<OpenAILMInvoker>(build_lm_invoker(
      {{"model_id", "openai/org/model-7b"}, {"api_key", "k"}, {"max_retries", 1}}));
  ASSERT_TRUE(openai);
  EXPECT_EQ(openai->model_name(), "org/model-7b");
  EXPECT_EQ(openai->base_url(), "http://127.0.0.1:1/v1");

  auto schema = std::make_shared<ResponseSchema>("Anything", qorl_core::Map{}, nullptr);
  auto custom = std::dynamic_pointer_cast<GoogleLMInvoker>(
      build_lm_invoker("google/gemini-2.5-pro", {{"base_url", "http://127.0.0.1:2"},
                                                 {"timeout", 1.5},
                                                 {"inline_data_limit", 1024},
                                                 {"api_key", qorl_core::None{}},
                                                 {"response_schema", schema}}));
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->response_schema(), schema);
  EXPECT_EQ(custom->base_url(), "http://127.0.0.1:2");
}

TEST(BuildLMInvokerTest, RejectsBadIdsAndOptions) {
  try {
    build_lm_invoker("anthropic/claude");
    FAIL() << "no error";
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(),
                 "Unsupported LM provider 'anthropic' in model id 'anthropic/claude'; "
                 "supported providers: google, openai");
  }
  for (const char* bad : {"", "gemini-2.5-flash", "/gemini", "google/"}) {
    EXPECT_THROW(build_lm_invoker(bad), qorl_core::ValueError) << bad;
  }
  EXPECT_THROW(build_lm_invoker("google/g", {{"temperature", 0.2}}), qorl_core::TypeError);
  EXPECT_THROW(build_lm_invoker("openai/m", {{"inline_data_limit", 5}}), qorl_core::TypeError);
  EXPECT_THROW(build_lm_invoker("google/g", {{"max_retries", "3"}}), qorl_core::TypeError);
  EXPECT_THROW(build_lm_invoker("google/g", {{"response_schema", "Caption"}}),
               qorl_core::TypeError);
  EXPECT_THROW(build_lm_invoker("google/g", {{"max_retries", -1}}), qorl_core::ValueError);
  EXPECT_THROW(build_lm_invoker("google/g", {{"model_id", "google/h"}}), qorl_core::TypeError);
  EXPECT_THROW(build_lm_invoker(qorl_core::Options{{"api_key", "k"}}), qorl_core::TypeError);
}

}  // namespace
}  // namespace qorl_inference
