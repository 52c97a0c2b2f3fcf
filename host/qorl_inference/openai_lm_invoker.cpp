#include "qorl_inference/openai_lm_invoker.hpp"

#include <boost/asio/this_coro.hpp>
#include <nlohmann/json.hpp>

#include <cstdlib>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/common/url.hpp"
#include "clients/http/http.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/json.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/http_exchange.hpp"

namespace qorl_inference {
namespace {

using json = nlohmann::ordered_json;

constexpr const char* kDefaultBaseUrl = "https://api.openai.com/v1";

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool starts_with(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string data_url(const Attachment& attachment) {
  return "data:" + attachment.mime_type + ";base64," +
         qorl_core::base64_encode(attachment.data.view());
}

json content_part(const Attachment& attachment) {
  if (attachment.is_url()) {
    if (!attachment.mime_type.empty() && !starts_with(attachment.mime_type, "image/")) {
      throw BaseInvokerError("OpenAI chat completions take links to images only, not " +
                             qorl_core::repr(attachment.filename) + " (" + attachment.mime_type +
                             ")");
    }
    return {{"type", "image_url"}, {"image_url", {{"url", attachment.url}}}};
  }
  if (starts_with(attachment.mime_type, "image/")) {
    return {{"type", "image_url"}, {"image_url", {{"url", data_url(attachment)}}}};
  }
  if (attachment.mime_type == "audio/x-wav" || attachment.mime_type == "audio/wav" ||
      attachment.mime_type == "audio/mpeg") {
    return {{"type", "input_audio"},
            {"input_audio",
             {{"data", qorl_core::base64_encode(attachment.data.view())},
              {"format", attachment.mime_type == "audio/mpeg" ? "mp3" : "wav"}}}};
  }
  const std::string filename =
      attachment.filename.empty()
          ? "attachment" +
                (attachment.extension.empty() ? std::string() : "." + attachment.extension)
          : attachment.filename;
  return {{"type", "file"},
          {"file", {{"filename", filename}, {"file_data", data_url(attachment)}}}};
}

json request_body(const std::string& model, const std::vector<Message>& messages,
                  const std::shared_ptr<ResponseSchema>& response_schema) {
  json chat = json::array();
  for (const auto& message : messages) {
    if (message.role == Role::SYSTEM) {
      std::string text;
      for (const auto& part : message.contents) {
        if (const auto* piece = std::get_if<std::string>(&part)) text += *piece;
      }
      chat.push_back({{"role", "system"}, {"content", text}});
      continue;
    }
    json parts = json::array();
    for (const auto& part : message.contents) {
      if (const auto* text = std::get_if<std::string>(&part)) {
        parts.push_back({{"type", "text"}, {"text", *text}});
      } else {
        parts.push_back(content_part(*std::get<std::shared_ptr<Attachment>>(part)));
      }
    }
    chat.push_back({{"role", "user"}, {"content", std::move(parts)}});
  }
  json body{{"model", model}, {"messages", std::move(chat)}};
  if (response_schema) {
    body["response_format"] = {
        {"type", "json_schema"},
        {"json_schema",
         {{"name", response_schema->name()},
          {"schema", qorl_core::to_ordered_json(response_schema->json_schema())}}}};
  }
  return body;
}

// The chat `usage` block's tokens.
std::optional<TokenUsage> usage_of(const nlohmann::json& body) {
  if (!clients::common::optional_field<nlohmann::json::object_t>(body, "usage"))
    return std::nullopt;
  const auto count = [&](std::string_view name) {
    return clients::common::field_or<std::int64_t>(body, {"usage", name});
  };
  return TokenUsage{.input_tokens = count("prompt_tokens"),
                    .output_tokens = count("completion_tokens"),
                    .total_tokens = count("total_tokens")};
}

// The answer text and its usage.
ModelAnswer read_answer(const clients::http::Response& response) {
  const auto body =
      clients::common::parse_json_or_discarded(response.body, "OpenAI chat completions");
  using clients::common::optional_field;
  const auto choices = optional_field<nlohmann::json::array_t>(body, "choices");
  const nlohmann::json choice = choices && !choices->empty() ? choices->front() : nlohmann::json();
  const auto message = optional_field<nlohmann::json::object_t>(choice, "message");
  if (!message) throw BaseInvokerError("OpenAI chat completions returned an unreadable answer");
  const nlohmann::json reply(*message);
  if (const auto refusal = optional_field<std::string>(reply, "refusal")) {
    throw BaseInvokerError("The model refused: " + *refusal);
  }
  if (auto text = optional_field<std::string>(reply, "content")) {
    return ModelAnswer{std::move(*text), usage_of(body)};
  }
  if (const auto parts = optional_field<nlohmann::json::array_t>(reply, "content")) {
    std::string text;
    for (const auto& part : *parts) {
      if (clients::common::field_or<std::string>(part, "type") == "text") {
        text += clients::common::field_or<std::string>(part, "text");
      }
    }
    return ModelAnswer{std::move(text), usage_of(body)};
  }
  throw BaseInvokerError(
      "OpenAI chat completions returned no text (finish reason: " +
      clients::common::field_or<std::string>(choice, "finish_reason", "unknown") + ")");
}

}  // namespace

OpenAILMInvoker::OpenAILMInvoker(OpenAILMInvokerOptions options)
    : BaseLMInvoker(options.response_schema),
      options_(std::move(options)),
      logger_(qorl_core::LoggerManager().get_logger("OpenAILMInvoker")) {
  if (options_.model_name.empty())
    throw qorl_core::ValueError("OpenAILMInvoker needs a model name");
  if (options_.api_key.empty()) options_.api_key = env_or_empty("OPENAI_API_KEY");
  clients::common::check_credential(options_.api_key, "The OpenAI API key");
  options_.base_url =
      clients::common::resolve_base_url(options_.base_url, {"OPENAI_BASE_URL"}, kDefaultBaseUrl);
}

boost::asio::awaitable<ModelAnswer> OpenAILMInvoker::_invoke(std::vector<Message> messages) {
  const ExchangePolicy policy{
      "OpenAI chat completions",
      options_.retry_config,
      options_.backoff,
      {options_.api_key},
      logger_,
      find_limiter(options_.rate_limits, "OpenAI", options_.api_key, options_.model_name)};
  clients::http::Request request;
  request.method = "POST";
  request.url = options_.base_url + "/chat/completions";
  request.headers = {{"Content-Type", "application/json"}};
  if (!options_.api_key.empty()) {
    request.headers.emplace_back("Authorization", "Bearer " + options_.api_key);
  }
  // base64 and JSON of megabytes of media: off the loop when a pool is set.
  request.body = co_await qorl_core::run_blocking([&] {
    return request_body(options_.model_name, messages, response_schema())
        .dump(-1, ' ', false, json::error_handler_t::replace);
  });
  // co_await kept out of the constructor's full-expression (GCC 12 relocates its temporaries).
  const auto executor = co_await boost::asio::this_coro::executor;
  clients::http::Session session(executor);
  const auto response = co_await send_with_retries(&session, std::move(request), policy, "request");
  if (!response.ok()) throw_status_error(response, policy, "request");
  co_return read_answer(response);
}

}  // namespace qorl_inference
