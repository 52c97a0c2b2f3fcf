// A router that shows the input to a multimodal language model and takes the route it names.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "qorl_core/logger_manager.hpp"
#include "qorl_inference/lm_request_processor.hpp"
#include "qorl_pipeline/router/router.hpp"

namespace qorl_pipeline {

class LMBasedRouter : public BaseRouter {
 public:
  // The processor's prompt must ask for one route name; it is sent with the input attached and
  // no prompt variables. ValueError when the processor is absent or the default route invalid.
  LMBasedRouter(std::shared_ptr<qorl_inference::LMRequestProcessor> lm_request_processor,
                std::set<std::string> valid_routes, std::string default_route);

  // A router for `input_modality_type` configured by the named preset ("image":
  // "domain_specific"). ValueError for an unknown modality or preset name.
  static std::unique_ptr<LMBasedRouter> from_preset(const std::string& input_modality_type,
                                                    const std::string& preset_name);

  // The route the model names for the image `source` (bytes, a local path, base64 text or an
  // http(s) URL); the default route when the answer names no valid route or the source cannot
  // be read. Model failures propagate. route() runs the model call on an event loop of its own.
  std::string route(const qorl_core::Value& source) override;
  [[nodiscard]] boost::asio::awaitable<std::string> async_route(qorl_core::Value source) override;

  const std::shared_ptr<qorl_inference::LMRequestProcessor> lm_request_processor;

 private:
  qorl_core::ClassNamedLogger logger_;
};

}  // namespace qorl_pipeline
