#include "qorl_inference/lm_invoker.hpp"

#include <exception>
#include <nlohmann/json.hpp>

#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/output_parser.hpp"

namespace qorl_inference {

std::string TokenUsage::to_json() const {
  return nlohmann::json{{"input_tokens", input_tokens},
                        {"output_tokens", output_tokens},
                        {"total_tokens", total_tokens}}
      .dump();
}

BaseLMInvoker::BaseLMInvoker(std::shared_ptr<ResponseSchema> response_schema)
    : response_schema_(std::move(response_schema)) {}

boost::asio::awaitable<LMResponse> BaseLMInvoker::invoke(
    std::vector<Message> messages, std::shared_ptr<EventEmitter> event_emitter) {
  LMResponse response;
  std::optional<TokenUsage> usage;
  try {
    ModelAnswer answer = co_await _invoke(std::move(messages));
    response.text = std::move(answer.text);
    usage = answer.usage;
  } catch (const BaseInvokerError&) {
    throw;
  } catch (const std::exception& error) {
    if (qorl_core::is_cancellation(error)) throw;
    std::throw_with_nested(BaseInvokerError("Model request failed: " + qorl_core::describe(error)));
  }
  if (response_schema_) {
    try {
      response.structured_output = response_schema_->parse(JSONOutputParser().parse(response.text));
    } catch (const qorl_core::ValueError& error) {
      std::throw_with_nested(BaseInvokerError("The model's answer does not fit " +
                                              response_schema_->name() + ": " + error.what()));
    }
  }
  if (event_emitter && usage) event_emitter->emit({"usage", usage->to_json()});
  if (event_emitter) event_emitter->emit({"response", response.text});
  co_return response;
}

}  // namespace qorl_inference
