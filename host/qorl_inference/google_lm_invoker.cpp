#include "qorl_inference/google_lm_invoker.hpp"

#include <boost/algorithm/string/replace.hpp>
#include <boost/asio/this_coro.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <map>
#include <set>
#include <variant>

#include "clients/aws/sigv4.hpp"
#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/common/url.hpp"
#include "clients/http/http.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/error_cause.hpp"
#include "qorl_core/json.hpp"
#include "qorl_core/text.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/gemini_batch.hpp"
#include "qorl_inference/gemini_files.hpp"
#include "qorl_inference/gemini_media_type.hpp"
#include "qorl_inference/http_exchange.hpp"

namespace qorl_inference {
namespace {

using json = nlohmann::ordered_json;

constexpr const char* kDefaultBaseUrl = "https://generativelanguage.googleapis.com";
constexpr const char* kApiVersion = "v1beta";
// Removing the uploads of a cancelled call: one attempt of at most this many seconds.
constexpr double kCleanupTimeoutSeconds = 10;

std::string env_or_empty(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// JSON Schema into Gemini's schema dialect (an OpenAPI subset): upper-case types, `nullable`
// instead of a "null" type, properties kept in their order through `propertyOrdering`.
json gemini_schema(const qorl_core::Value& node) {
  if (!node.is_map()) return qorl_core::to_ordered_json(node);
  static const std::set<std::string> kCopied{"required", "enum",     "description", "format",
                                             "minItems", "maxItems", "minimum",     "maximum",
                                             "nullable", "title"};
  json out = json::object();
  node.as_map().for_each([&](const std::string& key, const qorl_core::Value& value) {
    if (key == "type" && value.is_string()) {
      out["type"] = qorl_core::ascii_upper(value.as_string());
    } else if (key == "type" && value.is_list()) {
      for (const auto& type : value.as_list()) {
        if (!type.is_string()) continue;
        if (type.as_string() == "null") {
          out["nullable"] = true;
        } else {
          out["type"] = qorl_core::ascii_upper(type.as_string());
        }
      }
    } else if (key == "properties" && value.is_map()) {
      json properties = json::object();
      json ordering = json::array();
      value.as_map().for_each([&](const std::string& name, const qorl_core::Value& schema) {
        properties[name] = gemini_schema(schema);
        ordering.push_back(name);
      });
      out["properties"] = std::move(properties);
      out["propertyOrdering"] = std::move(ordering);
    } else if (key == "items") {
      out["items"] = gemini_schema(value);
    } else if (key == "anyOf" && value.is_list()) {
      json options = json::array();
      for (const auto& option : value.as_list()) options.push_back(gemini_schema(option));
      out["anyOf"] = std::move(options);
    } else if (kCopied.count(key)) {
      out[key] = qorl_core::to_ordered_json(value);
    }
    // Anything else (additionalProperties, $schema, ...) is outside Gemini's dialect.
  });
  return out;
}

// BaseInvokerError, before anything is sent, when an attachment has a type the service does not
// take: it would drop that part and answer without it.
void check_media_types(const std::vector<Message>& messages) {
  for (const auto& message : messages) {
    for (const auto& part : message.contents) {
      const auto* attachment = std::get_if<std::shared_ptr<Attachment>>(&part);
      if (!attachment || ((*attachment)->is_url() && (*attachment)->mime_type.empty())) continue;
      gemini_media_type((*attachment)->mime_type);
    }
  }
}

std::size_t base64_size(std::size_t bytes) { return (bytes + 2) / 3 * 4; }

// The in-memory attachments to upload so that the request stays within `limit`: the largest
// first, until the rest fits.
std::vector<std::shared_ptr<Attachment>> choose_uploads(const std::vector<Message>& messages,
                                                        std::size_t limit) {
  std::size_t request_size = 0;
  std::map<const Attachment*, std::pair<std::shared_ptr<Attachment>, std::size_t>> inline_sizes;
  for (const auto& message : messages) {
    for (const auto& part : message.contents) {
      if (const auto* text = std::get_if<std::string>(&part)) {
        request_size += text->size();
        continue;
      }
      const auto& attachment = std::get<std::shared_ptr<Attachment>>(part);
      if (attachment->is_url()) continue;
      const std::size_t size = base64_size(attachment->data.size());
      request_size += size;
      auto& entry = inline_sizes[attachment.get()];
      entry.first = attachment;
      entry.second += size;
    }
  }
  std::vector<std::pair<std::shared_ptr<Attachment>, std::size_t>> candidates;
  for (auto& [key, entry] : inline_sizes) candidates.push_back(entry);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  std::vector<std::shared_ptr<Attachment>> uploads;
  for (const auto& [attachment, size] : candidates) {
    if (request_size <= limit) break;
    uploads.push_back(attachment);
    request_size -= size;
  }
  return uploads;
}

// A link to content by URI; a web address whose type its name does not tell (a YouTube page)
// goes without one.
json file_data(const std::string& uri, const std::string& mime_type) {
  json data = json::object();
  if (!mime_type.empty()) data["mimeType"] = gemini_media_type(mime_type);
  data["fileUri"] = uri;
  return json{{"fileData", std::move(data)}};
}

std::string compact(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A part of a message in the request: JSON, or an attachment sent inline.
using RequestPart = std::variant<json, const Attachment*>;

void write_parts(std::string& body, const std::vector<RequestPart>& parts) {
  body += "\"parts\":[";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) body += ',';
    if (const auto* part = std::get_if<json>(&parts[i])) {
      body += compact(*part);
      continue;
    }
    const Attachment& attachment = *std::get<const Attachment*>(parts[i]);
    body += "{\"inlineData\":{\"mimeType\":" + compact(gemini_media_type(attachment.mime_type)) +
            ",\"data\":\"";
    qorl_core::base64_append(body, attachment.data.view());
    body += "\"}}";
  }
  body += ']';
}

// The generateContent body as compact JSON. Inline attachments are encoded straight into it:
// their base64 text never goes through a JSON document, whose serialiser would copy and check
// every character of it again.
std::string request_body(const std::vector<Message>& messages,
                         const std::map<const Attachment*, GeminiFile>& uploaded,
                         const std::shared_ptr<ResponseSchema>& response_schema) {
  std::vector<RequestPart> system_parts;
  std::vector<std::vector<RequestPart>> contents;
  std::size_t inline_size = 0;
  for (const auto& message : messages) {
    auto& parts = message.role == Role::SYSTEM ? system_parts : contents.emplace_back();
    for (const auto& part : message.contents) {
      if (const auto* text = std::get_if<std::string>(&part)) {
        parts.emplace_back(json{{"text", *text}});
        continue;
      }
      const auto& attachment = std::get<std::shared_ptr<Attachment>>(part);
      if (attachment->is_url()) {
        parts.emplace_back(file_data(attachment->url, attachment->mime_type));
      } else if (const auto file = uploaded.find(attachment.get()); file != uploaded.end()) {
        const auto& mime =
            file->second.mime_type.empty() ? attachment->mime_type : file->second.mime_type;
        parts.emplace_back(file_data(file->second.uri, mime));
      } else {
        parts.emplace_back(static_cast<const Attachment*>(attachment.get()));
        inline_size += base64_size(attachment->data.size());
      }
    }
  }

  std::string body;
  body.reserve(inline_size + 4096);
  body += '{';
  if (!system_parts.empty()) {
    body += "\"systemInstruction\":{";
    write_parts(body, system_parts);
    body += "},";
  }
  body += "\"contents\":[";
  for (std::size_t i = 0; i < contents.size(); ++i) {
    body += i ? ",{\"role\":\"user\"," : "{\"role\":\"user\",";
    write_parts(body, contents[i]);
    body += '}';
  }
  body += ']';
  if (response_schema) {
    body += ",\"generationConfig\":" +
            compact(json{{"responseMimeType", "application/json"},
                         {"responseSchema", gemini_schema(response_schema->json_schema())}});
  }
  body += '}';
  return body;
}

// The tokens of `usageMetadata`, thoughts counted as output as they are billed.
std::optional<TokenUsage> usage_of(const nlohmann::json& body) {
  const auto metadata =
      clients::common::optional_field<nlohmann::json::object_t>(body, "usageMetadata");
  if (!metadata) return std::nullopt;
  const auto count = [&](std::string_view name) {
    return clients::common::field_or<std::int64_t>(body, {"usageMetadata", name});
  };
  return TokenUsage{.input_tokens = count("promptTokenCount"),
                    .output_tokens = count("candidatesTokenCount") + count("thoughtsTokenCount"),
                    .total_tokens = count("totalTokenCount")};
}

// The answer text of the first candidate (its thought parts left out) and its usage, from a
// GenerateContentResponse whether it came directly or from a batch.
ModelAnswer read_answer(const std::string& answer) {
  const auto body = clients::common::parse_json_or_discarded(answer, "Gemini");
  if (!body.is_object())
    throw BaseInvokerError("Gemini generateContent returned an unreadable answer");
  const auto candidates = body.find("candidates");
  if (candidates == body.end() || !candidates->is_array() || candidates->empty()) {
    const auto feedback = body.find("promptFeedback");
    const std::string reason =
        feedback != body.end() && feedback->is_object() ? feedback->value("blockReason", "") : "";
    throw BaseInvokerError("Gemini returned no answer" +
                           (reason.empty() ? std::string() : " (prompt blocked: " + reason + ")"));
  }
  const auto& candidate = candidates->front();
  std::string text;
  bool has_text = false;
  if (candidate.contains("content") && candidate["content"].contains("parts") &&
      candidate["content"]["parts"].is_array()) {
    for (const auto& part : candidate["content"]["parts"]) {
      if (!part.is_object() || part.value("thought", false)) continue;
      const auto it = part.find("text");
      if (it == part.end() || !it->is_string()) continue;
      text += it->get<std::string>();
      has_text = true;
    }
  }
  if (!has_text) {
    const std::string reason = candidate.is_object() ? candidate.value("finishReason", "") : "";
    throw BaseInvokerError("Gemini returned no text" +
                           (reason.empty() ? std::string() : " (finish reason: " + reason + ")"));
  }
  return ModelAnswer{std::move(text), usage_of(body)};
}

bool is_cancellation(const std::exception_ptr& failure) {
  if (!failure) return false;
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& error) {
    return qorl_core::is_cancellation(error);
  } catch (...) {
  }
  return false;
}

}  // namespace

GoogleLMInvoker::GoogleLMInvoker(GoogleLMInvokerOptions options)
    : BaseLMInvoker(options.response_schema),
      options_(std::move(options)),
      logger_(qorl_core::LoggerManager().get_logger("GoogleLMInvoker")) {
  if (options_.model_name.rfind("models/", 0) == 0) options_.model_name.erase(0, 7);
  if (options_.model_name.empty())
    throw qorl_core::ValueError("GoogleLMInvoker needs a model name");
  if (options_.api_key.empty()) options_.api_key = env_or_empty("GEMINI_API_KEY");
  if (options_.api_key.empty()) options_.api_key = env_or_empty("GOOGLE_API_KEY");
  clients::common::check_credential(options_.api_key, "The Gemini API key");
  options_.base_url = clients::common::resolve_base_url(
      options_.base_url, {"GOOGLE_GEMINI_BASE_URL"}, kDefaultBaseUrl);
}

boost::asio::awaitable<ModelAnswer> GoogleLMInvoker::_invoke(std::vector<Message> messages) {
  if (options_.api_key.empty()) {
    throw BaseInvokerError(
        "No Gemini API key: pass api_key or set GEMINI_API_KEY or GOOGLE_API_KEY");
  }
  check_media_types(messages);
  // co_await kept out of the constructor's full-expression: GCC 12 relocates the temporaries
  // around it (the default SessionOptions) bitwise, which breaks their strings.
  const auto executor = co_await boost::asio::this_coro::executor;
  clients::http::Session session(executor);
  const ExchangePolicy policy{
      "Gemini", options_.retry_config, options_.backoff, {options_.api_key}, logger_, nullptr};
  GeminiFiles files(&session, {options_.base_url, options_.api_key, policy,
                               options_.file_poll_interval, options_.file_processing_timeout});

  std::map<const Attachment*, GeminiFile> uploaded;
  ModelAnswer answer;
  std::exception_ptr failure;
  try {
    for (auto& attachment : choose_uploads(messages, options_.inline_data_limit)) {
      logger_->debug("Uploading %s (%d bytes, %s) through the Files API",
                     qorl_core::repr(attachment->filename), attachment->data.size(),
                     attachment->mime_type);
      const auto* key = attachment.get();
      uploaded[key] = co_await files.upload(attachment);
      uploaded[key] = co_await files.wait_until_active(uploaded[key]);
    }
    clients::http::Request request;
    request.method = "POST";
    request.url = options_.base_url + "/" + kApiVersion + "/models/" +
                  clients::http::url_encode(options_.model_name) + ":generateContent";
    request.headers = {{"x-goog-api-key", options_.api_key}, {"Content-Type", "application/json"}};
    // base64 and JSON of megabytes of media: off the loop when a pool is set.
    request.body = co_await qorl_core::run_blocking(
        [&] { return request_body(messages, uploaded, response_schema()); });
    std::shared_ptr<GeminiBatcher> batcher = options_.batcher;
    if (const auto batching = default_gemini_batching(); !batcher && batching) {
      batcher = batching->batcher_for(options_.model_name, options_.api_key, options_.base_url);
    }
    if (batcher) {
      // The same request, answered through the batch mode; keyed by the content of its uploads,
      // which a rerun uploads again under other URIs.
      std::string key_material;
      if (!uploaded.empty()) {
        key_material = co_await qorl_core::run_blocking([&] {
          std::string material = request.body;
          for (const auto& [attachment, file] : uploaded) {
            boost::algorithm::replace_all(
                material, file.uri, "sha256:" + clients::aws::sha256_hex(attachment->data.view()));
          }
          return material;
        });
      }
      const std::string batched =
          co_await batcher->generate(std::move(request.body), std::move(key_material));
      answer = read_answer(batched);
    } else {
      ExchangePolicy paced = policy;
      paced.limiter =
          find_limiter(options_.rate_limits, "Gemini", options_.api_key, options_.model_name);
      const auto response =
          co_await send_with_retries(&session, std::move(request), paced, "generateContent");
      if (!response.ok()) throw_status_error(response, policy, "generateContent");
      answer = read_answer(response.body);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  if (is_cancellation(failure) && !uploaded.empty()) {
    // A cancelled call still removes what it uploaded: once, quickly, then the cancellation
    // goes on.
    co_await boost::asio::this_coro::reset_cancellation_state();
    ExchangePolicy cleanup = policy;
    cleanup.retry_config = {0, kCleanupTimeoutSeconds};
    GeminiFiles cleanup_files(
        &session, {options_.base_url, options_.api_key, cleanup, options_.file_poll_interval,
                   options_.file_processing_timeout});
    for (const auto& [key, file] : uploaded) co_await cleanup_files.remove(file);
  } else if (!qorl_core::find_cause<BatchPending>(failure)) {
    // A request left in a batch still needs its uploads: the Files API expires them.
    for (const auto& [key, file] : uploaded) co_await files.remove(file);
  }
  if (failure) std::rethrow_exception(failure);
  co_return answer;
}

}  // namespace qorl_inference
