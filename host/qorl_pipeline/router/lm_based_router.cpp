#include "qorl_pipeline/router/lm_based_router.hpp"

#include <boost/asio/awaitable.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

#include "clients/http/http.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_core/text.hpp"
#include "qorl_inference/builder.hpp"
#include "qorl_pipeline/router/router_preset.hpp"

namespace qorl_pipeline {

namespace {

using qorl_core::Value;
using qorl_inference::Attachment;

constexpr std::chrono::seconds kDownloadTimeout{60};

// The image `source` as an attachment, tried as a local file, base64 text, then an http(s)
// download; nullptr when none of them gives content.
boost::asio::awaitable<std::shared_ptr<Attachment>> read_image(Value source) {
  if (source.is_bytes()) {
    if (source.as_bytes().empty()) co_return nullptr;
    co_return Attachment::from_bytes(source.as_bytes());
  }
  if (!source.is_string() || source.as_string().empty()) co_return nullptr;
  const std::string& text = source.as_string();
  std::error_code error;
  if (std::filesystem::is_regular_file(text, error)) co_return Attachment::from_path(text);
  if (auto decoded = qorl_core::base64_decode(text); decoded && !decoded->empty()) {
    co_return Attachment::from_bytes(qorl_core::Bytes(std::move(*decoded)));
  }
  if (!text.starts_with("http://") && !text.starts_with("https://")) co_return nullptr;
  clients::http::Request request;
  request.url = text;
  request.timeout = kDownloadTimeout;
  try {
    clients::http::Response response = co_await clients::http::fetch(std::move(request));
    if (!response.ok() || response.body.empty()) co_return nullptr;
    co_return Attachment::from_bytes(qorl_core::Bytes(std::move(response.body)));
  } catch (const clients::http::Error&) {
    co_return nullptr;
  }
}

// The model's answer, or none when the source gave no image to show it.
boost::asio::awaitable<Value> ask_model(
    std::shared_ptr<qorl_inference::LMRequestProcessor> processor, Value source) {
  auto image = co_await read_image(std::move(source));
  if (!image) co_return Value();
  qorl_core::Map prompt_kwargs;
  std::vector<std::shared_ptr<Attachment>> extra_contents{image};
  Value answer = co_await processor->process(prompt_kwargs, extra_contents);
  co_return answer;
}

// A route name as models tend to write it: quoted, fenced, capitalised or with a full stop.
std::string normalized_route(std::string_view answer) {
  answer = qorl_core::strip(answer);
  constexpr std::string_view kWrapping = "`'\".";
  while (!answer.empty() && kWrapping.find(answer.front()) != std::string_view::npos) {
    answer.remove_prefix(1);
  }
  while (!answer.empty() && kWrapping.find(answer.back()) != std::string_view::npos) {
    answer.remove_suffix(1);
  }
  return qorl_core::ascii_lower(qorl_core::strip(answer));
}

}  // namespace

LMBasedRouter::LMBasedRouter(
    std::shared_ptr<qorl_inference::LMRequestProcessor> lm_request_processor,
    std::set<std::string> valid_routes, std::string default_route)
    : BaseRouter(std::move(valid_routes), std::move(default_route)),
      lm_request_processor(std::move(lm_request_processor)) {
  if (!this->lm_request_processor) {
    throw qorl_core::ValueError("LMBasedRouter needs an LM request processor");
  }
}

std::unique_ptr<LMBasedRouter> LMBasedRouter::from_preset(const std::string& input_modality_type,
                                                          const std::string& preset_name) {
  const RouterPreset& preset = get_router_preset(input_modality_type, preset_name);
  std::set<std::string> routes;
  for (const auto& route : preset.routes) routes.insert(route.name);
  auto processor = std::make_shared<qorl_inference::LMRequestProcessor>(
      std::make_shared<qorl_inference::PromptBuilder>(routing_system_prompt(preset),
                                                      "Classify the attached input."),
      qorl_inference::build_lm_invoker(std::string(DEFAULT_ROUTER_MODEL_ID)));
  return std::make_unique<LMBasedRouter>(std::move(processor), std::move(routes),
                                         preset.default_route);
}

// The synchronous entry point only: awaitables (the transformer among them) use async_route,
// and run_sync refuses to run on a thread that runs a loop.
std::string LMBasedRouter::route(const Value& source) {
  return qorl_core::run_sync(async_route(source));
}

boost::asio::awaitable<std::string> LMBasedRouter::async_route(Value source) {
  qorl_core::Logger& logger = logger_.get(typeid(*this));
  const Value answer = co_await ask_model(lm_request_processor, std::move(source));
  if (answer.is_none()) {
    logger.debug("No image could be read from the source; taking the default route %s",
                 default_route());
    co_return default_route();
  }
  if (answer.is_string()) {
    std::string name = normalized_route(answer.as_string());
    if (valid_routes().contains(name)) co_return name;
  }
  logger.debug("The answer %s names no valid route; taking the default route %s", answer,
               default_route());
  co_return default_route();
}

}  // namespace qorl_pipeline
