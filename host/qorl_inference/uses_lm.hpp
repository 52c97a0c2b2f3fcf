// Mixin of classes that do their work through a model request processor.
//
// A class derives from UsesLM<Itself> (after its other bases), passes the processor to the
// mixin's constructor, and offers a public constructor taking the processor, optionally
// followed by named options:
//
//   class Captioner : public BaseCaptioner, public qorl_inference::UsesLM<Captioner> {
//    public:
//     explicit Captioner(std::shared_ptr<qorl_inference::LMRequestProcessor> processor)
//         : UsesLM(std::move(processor)) {}
//   };
//   auto captioner = Captioner::from_lm_components(prompt_builder, lm_invoker, output_parser);
//
// from_lm_components builds the processor and hands it to the constructor together with the
// named options when the class has a `(processor, const Options&)` constructor; a class whose
// constructor takes the processor alone accepts no options (TypeError naming the first one).
// An option named `lm_request_processor` collides with the built processor (TypeError).
#pragma once

#include <memory>
#include <type_traits>

#include "qorl_core/errors.hpp"
#include "qorl_core/type_name.hpp"
#include "qorl_core/value.hpp"
#include "qorl_inference/lm_request_processor.hpp"

namespace qorl_inference {

template <typename Derived>
class UsesLM {
 public:
  std::shared_ptr<LMRequestProcessor> lm_request_processor;

  static std::unique_ptr<Derived> from_lm_components(
      std::shared_ptr<PromptBuilder> prompt_builder, std::shared_ptr<BaseLMInvoker> lm_invoker,
      std::shared_ptr<BaseOutputParser> output_parser, const qorl_core::Options& options = {}) {
    if (options.contains("lm_request_processor")) {
      throw qorl_core::TypeError(qorl_core::simple_type_name<Derived>() +
                                 " got multiple values for option 'lm_request_processor'");
    }
    auto processor = std::make_shared<LMRequestProcessor>(
        std::move(prompt_builder), std::move(lm_invoker), std::move(output_parser));
    if constexpr (std::is_constructible_v<Derived, std::shared_ptr<LMRequestProcessor>,
                                          const qorl_core::Options&>) {
      return std::make_unique<Derived>(std::move(processor), options);
    } else {
      if (!options.empty()) {
        throw qorl_core::TypeError(qorl_core::simple_type_name<Derived>() +
                                   " got an unexpected option " +
                                   qorl_core::repr(options.keys().front()));
      }
      return std::make_unique<Derived>(std::move(processor));
    }
  }

 protected:
  // ValueError when the processor is absent.
  explicit UsesLM(std::shared_ptr<LMRequestProcessor> processor)
      : lm_request_processor(std::move(processor)) {
    if (!lm_request_processor) {
      throw qorl_core::ValueError(qorl_core::simple_type_name<Derived>() +
                                  " needs an LM request processor");
    }
  }
  ~UsesLM() = default;
};

}  // namespace qorl_inference
