// LM-based implementation for converting an image into Mermaid diagram syntax.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "qorl_inference/uses_lm.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_mermaid/image_to_mermaid.hpp"

namespace qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::
    lm_based_image_to_mermaid {

using image_to_mermaid::Mermaid;

class LMBasedImageToMermaid : public image_to_mermaid::BaseImageToMermaid,
                              public qorl_inference::UsesLM<LMBasedImageToMermaid> {
 public:
  explicit LMBasedImageToMermaid(
      std::shared_ptr<qorl_inference::LMRequestProcessor> lm_request_processor)
      : UsesLM(std::move(lm_request_processor)) {}

  // Constructs an LMBasedImageToMermaid instance using a named preset configuration.
  // `preset_name` none means "default". `lm_invoker_kwargs` (additional arguments for the lm
  // invoker, e.g. `model_id`) and `prompt_builder_kwargs` (additional arguments for the prompt
  // builder) may be absent; a caller's non-empty invoker map receives `model_id`. The options go
  // to the constructor through the mixin.
  static std::unique_ptr<LMBasedImageToMermaid> from_preset(
      const std::optional<std::string>& preset_name = "default",
      qorl_core::Options* lm_invoker_kwargs = nullptr,
      qorl_core::Options* prompt_builder_kwargs = nullptr, const qorl_core::Options& options = {});

 protected:
  // The model's answer to the image alone, as it came (the prompt variables are the Mermaid
  // fields the templates name). A failed request gives the empty text and one debug line.
  // Reads the option `event_emitter`.
  boost::asio::awaitable<std::string> _get_mermaid(qorl_core::Bytes image_binary,
                                                   std::shared_ptr<Mermaid> mermaid_data,
                                                   qorl_core::Options options) override;
};

}  // namespace
   // qorl_multimodal::modality_converter::image_to_text::image_to_mermaid::lm_based_image_to_mermaid
