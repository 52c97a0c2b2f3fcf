#include "testing/fake_chat_completions_server.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <regex>

#include "qorl_core/base64.hpp"

namespace qorl_testing {
namespace {

using json = nlohmann::json;

void reply_error(httplib::Response& response, int status, const std::string& message,
                 const std::string& code) {
  response.status = status;
  response.set_content(json{{"error",
                             {{"message", message},
                              {"type", "invalid_request_error"},
                              {"param", nullptr},
                              {"code", code}}}}
                           .dump(),
                       "application/json");
}

bool is_data_url(const std::string& url, const std::string& type_prefix) {
  static const std::regex kDataUrl(R"(data:([a-z]+/[-+.a-z0-9]+);base64,(.*))");
  std::smatch match;
  return std::regex_match(url, match, kDataUrl) && match[1].str().rfind(type_prefix, 0) == 0 &&
         qorl_core::base64_decode(match[2].str()).has_value();
}

// Empty when the real API would take the part.
std::string check_part(const json& part) {
  const std::string type = part.value("type", "");
  if (type == "text")
    return part.contains("text") && part["text"].is_string() ? "" : "text part without text";
  if (type == "image_url") {
    const std::string url = part.contains("image_url") ? part["image_url"].value("url", "") : "";
    if (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0 || is_data_url(url, "image/"))
      return {};
    return "Invalid image URL: 'image_url.url' must be a URL or a base64 data URL of an image.";
  }
  if (type == "input_audio") {
    const auto audio = part.value("input_audio", json::object());
    const std::string format = audio.value("format", "");
    if ((format == "wav" || format == "mp3") && qorl_core::base64_decode(audio.value("data", "x")))
      return {};
    return "Invalid input_audio: base64 'data' and a 'format' of wav or mp3 are required.";
  }
  if (type == "file") {
    const auto file = part.value("file", json::object());
    if (!file.value("filename", "").empty() && is_data_url(file.value("file_data", ""), ""))
      return {};
    return "Invalid file part: 'filename' and a base64 data URL 'file_data' are required.";
  }
  return "Invalid value: '" + type +
         "'. Supported values are: 'text', 'image_url', 'input_audio', and 'file'.";
}

std::string check_body(const std::string& text) {
  const auto body = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (!body.is_object()) return "We could not parse the JSON body of your request.";
  if (!body.contains("model") || !body["model"].is_string() ||
      body["model"].get<std::string>().empty()) {
    return "you must provide a model parameter";
  }
  if (!body.contains("messages") || !body["messages"].is_array() || body["messages"].empty()) {
    return "'messages' must contain at least one message";
  }
  for (const auto& message : body["messages"]) {
    const std::string role = message.value("role", "");
    if (role != "system" && role != "user" && role != "assistant")
      return "Invalid role: '" + role + "'";
    const auto content = message.value("content", json());
    if (content.is_string()) continue;
    if (!content.is_array() || role == "system") return "Invalid content for role " + role;
    for (const auto& part : content) {
      if (auto problem = check_part(part); !problem.empty()) return problem;
    }
  }
  if (body.contains("response_format")) {
    const auto& format = body["response_format"];
    static const std::regex kName("[a-zA-Z0-9_-]{1,64}");
    if (format.value("type", "") != "json_schema" || !format.contains("json_schema") ||
        !std::regex_match(format["json_schema"].value("name", ""), kName) ||
        !format["json_schema"].value("schema", json()).is_object()) {
      return "Invalid 'response_format': a json_schema with a name and a schema object is "
             "required.";
    }
  }
  return {};
}

}  // namespace

FakeChatCompletionsServer::FakeChatCompletionsServer(std::string api_key)
    : api_key_(std::move(api_key)) {
  server_.server().Post("/v1/chat/completions", [this](const httplib::Request& q,
                                                       httplib::Response& r) { complete(q, r); });
  server_.start();
}

void FakeChatCompletionsServer::queue_reply(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  replies_.push_back(std::move(reply));
}

void FakeChatCompletionsServer::set_answer_text(std::string text) {
  std::lock_guard lock(mutex_);
  answer_text_ = std::move(text);
}

std::string FakeChatCompletionsServer::answer_body(const std::string& text) {
  return json{{"id", "chatcmpl-1"},
              {"object", "chat.completion"},
              {"created", 0},
              {"model", "fake"},
              {"choices",
               {{{"index", 0},
                 {"message", {{"role", "assistant"}, {"content", text}, {"refusal", nullptr}}},
                 {"finish_reason", "stop"}}}}}
      .dump();
}

std::vector<RecordedRequest> FakeChatCompletionsServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void FakeChatCompletionsServer::complete(const httplib::Request& request,
                                         httplib::Response& response) {
  std::optional<ScriptedReply> reply;
  std::string text;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(RecordedRequest::of(request));
    if (!api_key_.empty() && request.get_header_value("Authorization") != "Bearer " + api_key_) {
      return reply_error(response, 401, "Incorrect API key provided.", "invalid_api_key");
    }
    if (auto problem = check_body(request.body); !problem.empty()) {
      return reply_error(response, 400, problem, "invalid_value");
    }
    if (!replies_.empty()) {
      reply = std::move(replies_.front());
      replies_.pop_front();
    }
    text = answer_text_;
  }
  if (reply) return reply->send(response);
  response.set_content(answer_body(text), "application/json");
}

}  // namespace qorl_testing
