#include "qorl_inference/http_exchange.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qorl_core/run_sync.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/google_lm_invoker.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"
#include "testing/fake_chat_completions_server.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/http_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/scoped_call_policy.hpp"

namespace qorl_inference {
namespace {

using namespace std::chrono_literals;
using qorl_testing::Fault;

std::vector<Message> hello() { return {Message::user({std::string("Hello")})}; }

// The message of the BaseInvokerError the invocation raises.
std::string failure(BaseLMInvoker& invoker) {
  try {
    qorl_core::run_sync(invoker.invoke(hello()));
  } catch (const BaseInvokerError& error) {
    return error.what();
  }
  ADD_FAILURE() << "no BaseInvokerError";
  return {};
}

// Answers every POST with a redirect to the same target at `to`, another origin.
class Redirector {
 public:
  explicit Redirector(std::string to) {
    server_.server().Post(R"(.*)", [to](const httplib::Request& req, httplib::Response& res) {
      res.set_redirect(to + req.target, 307);
    });
    server_.start();
  }
  std::string url(const std::string& path = "") const { return server_.url(path); }

 private:
  qorl_testing::HttpServer server_;
};

class HostileExchange : public ::testing::Test {
 protected:
  GoogleLMInvokerOptions gemini(std::string base_url) const {
    GoogleLMInvokerOptions o;
    o.model_name = "gemini-2.5-flash";
    o.api_key = gemini_.api_key();
    o.base_url = std::move(base_url);
    o.backoff = {1ms, 5ms};
    return o;
  }
  std::vector<std::string> warnings() const {
    return logs_.messages("GoogleLMInvoker", qorl_core::LogLevel::WARNING);
  }

  const qorl_testing::ScopedCallPolicy quick_{qorl_testing::policy_without_delays()};
  qorl_testing::FakeGeminiServer gemini_;
  qorl_testing::FaultProxy faults_{gemini_.base_url()};
  qorl_testing::LogCapture logs_;
};

// As with `--timeout`: the operator's deadline ends the call within its first attempt.
TEST_F(HostileExchange, SilentModelFailureTellsTheAttemptsMade) {
  clients::http::CallPolicy limits = qorl_testing::policy_without_delays();
  limits.retry.deadline = 300ms;
  limits.attempt_timeout = 300ms;
  const qorl_testing::ScopedCallPolicy scoped(limits);
  faults_.inject(Fault::hang(), ":generateContent", 4);
  auto options = gemini(faults_.url());
  options.retry_config = {3, 600.0};
  GoogleLMInvoker invoker(options);
  const std::string message = failure(invoker);
  EXPECT_EQ(message.rfind("Gemini generateContent failed after 1 attempt: ", 0), 0u) << message;
  EXPECT_EQ(faults_.requests(":generateContent"), 1);
  for (const auto& line : warnings()) EXPECT_EQ(line.find("retrying"), std::string::npos) << line;
}

TEST_F(HostileExchange, SilentModelIsTriedTwiceAtMost) {
  faults_.inject(Fault::hang(), ":generateContent", 4);
  auto options = gemini(faults_.url());
  options.retry_config = {3, 0.2};
  GoogleLMInvoker invoker(options);
  const std::string message = failure(invoker);
  EXPECT_EQ(message.rfind("Gemini generateContent failed after 2 attempts: ", 0), 0u) << message;
  EXPECT_EQ(faults_.requests(":generateContent"), 2);
  EXPECT_EQ(warnings().size(), 1u);
}

// A service that redirects to another origin does not get the key sent there.
TEST_F(HostileExchange, KeysStayWithTheServiceThatRedirects) {
  Redirector to_gemini(gemini_.base_url());
  GoogleLMInvoker invoker(gemini(to_gemini.url()));
  EXPECT_NE(failure(invoker).find("HTTP 403"), std::string::npos);  // the key did not follow
  const auto reached = gemini_.requests();
  ASSERT_FALSE(reached.empty());
  for (const auto& request : reached) EXPECT_EQ(request.header("x-goog-api-key"), "");

  qorl_testing::FakeChatCompletionsServer chat("sk-secret");
  const std::string chat_root = chat.base_url().substr(0, chat.base_url().size() - 3);  // no /v1
  Redirector to_chat(chat_root);
  OpenAILMInvokerOptions openai;
  openai.model_name = "qwen2.5-vl";
  openai.api_key = "sk-secret";
  openai.base_url = to_chat.url("/v1");
  openai.retry_config = {0, 0.0};
  OpenAILMInvoker chat_invoker(openai);
  EXPECT_NE(failure(chat_invoker).find("HTTP 401"), std::string::npos);
  const auto chat_reached = chat.requests();
  ASSERT_FALSE(chat_reached.empty());
  for (const auto& request : chat_reached) EXPECT_EQ(request.header("Authorization"), "");
}

}  // namespace
}  // namespace qorl_inference
