// A fake OpenAI-compatible chat-completions server on loopback ("/v1/chat/completions"): it
// checks the bearer key (when it has one) and the request's shape the way the real API does,
// and answers with a canned completion or scripted replies.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "testing/http_server.hpp"
#include "testing/recorded_exchange.hpp"

namespace qorl_testing {

class FakeChatCompletionsServer {
 public:
  // An empty key: requests need none, as with most self-hosted engines.
  explicit FakeChatCompletionsServer(std::string api_key = "");

  // "http://127.0.0.1:<port>/v1", what OPENAI_BASE_URL would hold.
  std::string base_url() const { return server_.url("/v1"); }

  void queue_reply(ScriptedReply reply);
  void set_answer_text(std::string text);
  static std::string answer_body(const std::string& text);

  std::vector<RecordedRequest> requests() const;

 private:
  void complete(const httplib::Request& request, httplib::Response& response);

  std::string api_key_;
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::deque<ScriptedReply> replies_;
  std::string answer_text_ = "Hello from the fake chat model.";
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
