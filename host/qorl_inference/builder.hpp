// Invokers by model id: "google/<model>" (Gemini) or "openai/<model>" (OpenAI-compatible chat
// completions).
#pragma once

#include <memory>
#include <string>

#include "qorl_core/value.hpp"
#include "qorl_inference/lm_invoker.hpp"

namespace qorl_inference {

// Named options, all optional: `api_key` (text; else the provider's usual environment
// variables), `base_url` (text; else the provider's environment override), `response_schema`
// (a ResponseSchema), `max_retries` (integer), `timeout` (seconds per attempt, 0 for none),
// and for Google `inline_data_limit` (bytes). ValueError for a malformed model id or an unknown
// provider; TypeError for an unknown option or one of the wrong kind.
std::shared_ptr<BaseLMInvoker> build_lm_invoker(const std::string& model_id,
                                                const qorl_core::Options& options = {});
// The same with the model id among the options, under `model_id`.
std::shared_ptr<BaseLMInvoker> build_lm_invoker(const qorl_core::Options& options);

}  // namespace qorl_inference
