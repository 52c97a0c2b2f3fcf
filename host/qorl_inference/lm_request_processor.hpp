// One model request from template variables: the prompt builder makes the messages, the
// invoker sends them, the output parser (if any) reads the answer.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_inference/attachment.hpp"
#include "qorl_inference/event_emitter.hpp"
#include "qorl_inference/lm_invoker.hpp"
#include "qorl_inference/output_parser.hpp"
#include "qorl_inference/prompt_builder.hpp"

namespace qorl_inference {

class LMRequestProcessor {
 public:
  // ValueError when the prompt builder or the invoker is absent; the parser may be.
  LMRequestProcessor(std::shared_ptr<PromptBuilder> prompt_builder,
                     std::shared_ptr<BaseLMInvoker> lm_invoker,
                     std::shared_ptr<BaseOutputParser> output_parser = nullptr);

  const std::shared_ptr<PromptBuilder>& prompt_builder() const noexcept { return prompt_builder_; }
  const std::shared_ptr<BaseLMInvoker>& lm_invoker() const noexcept { return lm_invoker_; }
  const std::shared_ptr<BaseOutputParser>& output_parser() const noexcept { return output_parser_; }

  // The parser's value of the answer, or the answer text without a parser. Prompt errors
  // (MissingPromptVariableError), invoker errors (BaseInvokerError) and parser errors
  // (ValueError) propagate. Safe to run concurrently.
  boost::asio::awaitable<qorl_core::Value> process(
      qorl_core::Map prompt_kwargs, std::vector<std::shared_ptr<Attachment>> extra_contents = {},
      std::shared_ptr<EventEmitter> event_emitter = nullptr) const;

 private:
  std::shared_ptr<PromptBuilder> prompt_builder_;
  std::shared_ptr<BaseLMInvoker> lm_invoker_;
  std::shared_ptr<BaseOutputParser> output_parser_;
};

}  // namespace qorl_inference
