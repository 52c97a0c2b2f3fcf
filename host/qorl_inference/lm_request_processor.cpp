#include "qorl_inference/lm_request_processor.hpp"

#include "qorl_core/errors.hpp"

namespace qorl_inference {

LMRequestProcessor::LMRequestProcessor(std::shared_ptr<PromptBuilder> prompt_builder,
                                       std::shared_ptr<BaseLMInvoker> lm_invoker,
                                       std::shared_ptr<BaseOutputParser> output_parser)
    : prompt_builder_(std::move(prompt_builder)),
      lm_invoker_(std::move(lm_invoker)),
      output_parser_(std::move(output_parser)) {
  if (!prompt_builder_) throw qorl_core::ValueError("LMRequestProcessor needs a prompt builder");
  if (!lm_invoker_) throw qorl_core::ValueError("LMRequestProcessor needs an LM invoker");
}

boost::asio::awaitable<qorl_core::Value> LMRequestProcessor::process(
    qorl_core::Map prompt_kwargs, std::vector<std::shared_ptr<Attachment>> extra_contents,
    std::shared_ptr<EventEmitter> event_emitter) const {
  // Keep the components alive across suspension even if the processor is replaced meanwhile.
  auto prompt_builder = prompt_builder_;
  auto lm_invoker = lm_invoker_;
  auto output_parser = output_parser_;
  auto messages = prompt_builder->format(prompt_kwargs, extra_contents);
  LMResponse response = co_await lm_invoker->invoke(std::move(messages), std::move(event_emitter));
  if (!output_parser) co_return qorl_core::Value(std::move(response.text));
  co_return output_parser->parse(response.text);
}

}  // namespace qorl_inference
