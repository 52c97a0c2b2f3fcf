// Model clients: an invoker sends a conversation to a language model and returns its answer,
// parsed into the invoker's response schema when it has one.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_inference/event_emitter.hpp"
#include "qorl_inference/message.hpp"
#include "qorl_inference/response_schema.hpp"

namespace qorl_inference {

// Tokens one model call was billed for, as the service reported them.
struct TokenUsage {
  std::int64_t input_tokens = 0;
  std::int64_t output_tokens = 0;  // thinking included
  std::int64_t total_tokens = 0;

  // {"input_tokens":..,"output_tokens":..,"total_tokens":..}: the value of a "usage" event.
  std::string to_json() const;
};

// What one model call answered.
struct ModelAnswer {
  std::string text;
  std::optional<TokenUsage> usage{};  // when the service said
};

struct LMResponse {
  std::string text;
  // The answer parsed into the invoker's response schema (a record); none without a schema.
  qorl_core::Value structured_output;

  template <typename R>
  std::shared_ptr<R> structured_output_as() const {
    return structured_output.object_as<R>();
  }
};

// Waits between attempts: doubling from `initial`, at most `max`, with random spread.
struct RetryBackoff {
  std::chrono::milliseconds initial{1000};
  std::chrono::milliseconds max{30000};
};

class BaseLMInvoker {
 public:
  explicit BaseLMInvoker(std::shared_ptr<ResponseSchema> response_schema = nullptr);
  virtual ~BaseLMInvoker() = default;

  // Sends `messages` and returns the answer; emits a "usage" event with the tokens the service
  // reported (TokenUsage::to_json), then a "response" event with the answer text.
  // Every failure, an answer that does not fit the response schema included, is a
  // BaseInvokerError; cancellation propagates as it is.
  boost::asio::awaitable<LMResponse> invoke(std::vector<Message> messages,
                                            std::shared_ptr<EventEmitter> event_emitter = nullptr);

  const std::shared_ptr<ResponseSchema>& response_schema() const noexcept {
    return response_schema_;
  }

 protected:
  // One model call (retries included); returns the answer text and what it cost.
  virtual boost::asio::awaitable<ModelAnswer> _invoke(std::vector<Message> messages) = 0;

 private:
  std::shared_ptr<ResponseSchema> response_schema_;
};

}  // namespace qorl_inference
