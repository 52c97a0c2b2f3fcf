#include "testing/fake_gemini_server.hpp"

#include <nlohmann/json.hpp>

#include <set>
#include <sstream>

#include "qorl_core/base64.hpp"

namespace qorl_testing {
namespace {

using json = nlohmann::json;

const std::string kFilesPrefix = "/v1beta/files/";

void reply_error(httplib::Response& response, int code, const std::string& message,
                 const std::string& status) {
  response.status = code;
  response.set_content(FakeGeminiServer::error_body(code, message, status), "application/json");
}

// The media types the service documents; a request with any other is refused, so every test
// that reaches this fake proves its types are among them.
bool documented_media_type(const std::string& type) {
  static const std::set<std::string> kDocumented{
      "image/png",       "image/jpeg", "image/webp",      "image/heic",    "image/heif",
      "audio/wav",       "audio/mp3",  "audio/aiff",      "audio/aac",     "audio/ogg",
      "audio/flac",      "video/mp4",  "video/mpeg",      "video/mov",     "video/avi",
      "video/x-flv",     "video/mpg",  "video/webm",      "video/wmv",     "video/3gpp",
      "application/pdf", "text/plain", "text/html",       "text/css",      "text/csv",
      "text/xml",        "text/rtf",   "text/javascript", "text/x-python", "text/md"};
  return kDocumented.count(type) > 0;
}

std::string unsupported_media_type(const std::string& type) {
  return "Unsupported MIME type: " + type;
}

std::string unknown_name(const std::string& name, const std::string& where) {
  return "Invalid JSON payload received. Unknown name \"" + name + "\" at '" + where +
         "': Cannot find field.";
}

// Empty when `schema` is in Gemini's schema dialect.
std::string check_schema(const json& schema, const std::string& where) {
  static const std::set<std::string> kKeys{
      "type",     "format",   "description", "nullable",         "enum",
      "maxItems", "minItems", "items",       "required",         "properties",
      "anyOf",    "minimum",  "maximum",     "propertyOrdering", "title"};
  static const std::set<std::string> kTypes{"STRING",  "NUMBER", "INTEGER",
                                            "BOOLEAN", "ARRAY",  "OBJECT"};
  if (!schema.is_object()) return "Invalid value at '" + where + "': not a schema";
  for (const auto& [key, value] : schema.items()) {
    if (!kKeys.count(key)) return unknown_name(key, where);
  }
  if (schema.contains("type") &&
      (!schema["type"].is_string() || !kTypes.count(schema["type"].get<std::string>()))) {
    return "Invalid value at '" + where +
           ".type' (type.googleapis.com/google.ai.generativelanguage.v1beta.Type), " +
           schema["type"].dump();
  }
  if (schema.value("type", "") == "ARRAY" && !schema.contains("items")) {
    return "* GenerateContentRequest." + where + ".items: missing field.";
  }
  if (schema.contains("items")) {
    if (auto problem = check_schema(schema["items"], where + ".items"); !problem.empty())
      return problem;
  }
  if (schema.contains("properties")) {
    for (const auto& [name, property] : schema["properties"].items()) {
      if (auto problem = check_schema(property, where + ".properties[" + name + "]");
          !problem.empty()) {
        return problem;
      }
    }
  }
  for (const auto& name : schema.value("required", json::array())) {
    if (!schema.contains("properties") || !schema["properties"].contains(name.get<std::string>())) {
      return "* GenerateContentRequest." + where + ".required: property is not defined";
    }
  }
  return {};
}

}  // namespace

FakeGeminiServer::FakeGeminiServer(std::string api_key) : api_key_(std::move(api_key)) {
  auto& server = server_.server();
  // Each route is answered by the member function of that name.
  const auto handler = [this](void (FakeGeminiServer::*member)(const httplib::Request&,
                                                               httplib::Response&)) {
    return
        [this, member](const httplib::Request& q, httplib::Response& r) { (this->*member)(q, r); };
  };
  server.Post(R"(/v1beta/models/([^/]+):generateContent)", handler(&FakeGeminiServer::generate));
  server.Post("/upload/v1beta/files", handler(&FakeGeminiServer::upload));
  server.Get(R"(/v1beta/files/([^/]+))", handler(&FakeGeminiServer::file_status));
  server.Delete(R"(/v1beta/files/([^/]+))", handler(&FakeGeminiServer::file_remove));
  server.Post(R"(/v1beta/models/([^/]+):batchGenerateContent)",
              handler(&FakeGeminiServer::batch_create));
  server.Get(R"(/v1beta/batches/([^/:]+))", handler(&FakeGeminiServer::batch_get));
  server.Post(R"(/v1beta/batches/([^/:]+):cancel)", handler(&FakeGeminiServer::batch_cancel));
  server.Delete(R"(/v1beta/batches/([^/:]+))", handler(&FakeGeminiServer::batch_delete));
  server.Get(R"(/download/v1beta/files/([^/:]+):download)",
             handler(&FakeGeminiServer::file_download));
  server.set_error_handler([this](const httplib::Request& q, httplib::Response& r) {
    if (r.status == 404 && r.body.empty()) {
      record(q);
      reply_error(r, 404, "Requested entity was not found.", "NOT_FOUND");
    }
  });
  server_.start();
}

void FakeGeminiServer::queue_reply(Reply reply) {
  std::lock_guard lock(mutex_);
  replies_.push_back(std::move(reply));
}

void FakeGeminiServer::set_answer_text(std::string text) {
  std::lock_guard lock(mutex_);
  answer_text_ = std::move(text);
}

void FakeGeminiServer::set_batch_answer_text(std::string text) {
  std::lock_guard lock(mutex_);
  batch_answer_text_ = std::move(text);
}

void FakeGeminiServer::set_request_size_limit(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  request_size_limit_ = bytes;
}

void FakeGeminiServer::set_processing(int status_reads, std::string final_state) {
  std::lock_guard lock(mutex_);
  processing_reads_ = status_reads;
  final_state_ = std::move(final_state);
}

void FakeGeminiServer::set_rate_limit(int requests, std::chrono::milliseconds window,
                                      std::string retry_delay) {
  std::lock_guard lock(mutex_);
  rate_limit_ = requests;
  rate_window_ = window;
  retry_delay_ = std::move(retry_delay);
}

void FakeGeminiServer::set_daily_quota(int requests) {
  std::lock_guard lock(mutex_);
  daily_left_ = requests;
}

void FakeGeminiServer::reset_daily_quota() {
  std::lock_guard lock(mutex_);
  daily_left_.reset();
}

int FakeGeminiServer::throttled() const {
  std::lock_guard lock(mutex_);
  return throttled_;
}

namespace {

json quota_error(const std::string& quota_id, const std::string& metric) {
  return {
      {"code", 429},
      {"message", "You exceeded your current quota, please check your plan and billing details."},
      {"status", "RESOURCE_EXHAUSTED"},
      {"details",
       {{{"@type", "type.googleapis.com/google.rpc.QuotaFailure"},
         {"violations",
          {{{"quotaMetric", metric},
            {"quotaId", quota_id},
            {"quotaDimensions", {{"location", "global"}, {"model", "gemini-2.5-flash"}}},
            {"quotaValue", "250"}}}}},
        {{"@type", "type.googleapis.com/google.rpc.Help"},
         {"links",
          {{{"description", "Learn more about Gemini API quotas"},
            {"url", "https://ai.google.dev/gemini-api/docs/rate-limits"}}}}}}}};
}

}  // namespace

std::string FakeGeminiServer::rate_limited_body(const std::string& retry_delay) {
  json error = quota_error("GenerateRequestsPerMinutePerProjectPerModel",
                           "generativelanguage.googleapis.com/generate_content_requests");
  error["details"].push_back(
      {{"@type", "type.googleapis.com/google.rpc.RetryInfo"}, {"retryDelay", retry_delay}});
  return json{{"error", error}}.dump();
}

std::string FakeGeminiServer::daily_quota_body() {
  json error = quota_error("GenerateRequestsPerDayPerProjectPerModel-FreeTier",
                           "generativelanguage.googleapis.com/generate_content_free_tier_requests");
  // The service adds a RetryInfo to daily quotas too: waiting hours is not what it means.
  error["details"].push_back(
      {{"@type", "type.googleapis.com/google.rpc.RetryInfo"}, {"retryDelay", "43s"}});
  return json{{"error", error}}.dump();
}

std::optional<FakeGeminiServer::Reply> FakeGeminiServer::quota_refusal() {
  if (daily_left_ && *daily_left_ <= 0) return Reply(429, daily_quota_body());
  if (rate_limit_ > 0) {
    const auto now = std::chrono::steady_clock::now();
    while (!recent_.empty() && now - recent_.front() >= rate_window_) recent_.pop_front();
    if (recent_.size() >= static_cast<std::size_t>(rate_limit_)) {
      ++throttled_;
      if (!retry_delay_.empty()) return Reply(429, rate_limited_body(retry_delay_));
      const std::chrono::duration<double> room = recent_.front() + rate_window_ - now;
      return Reply(429, rate_limited_body(std::to_string(room.count()) + "s"));
    }
    recent_.push_back(now);
  }
  if (daily_left_) --*daily_left_;
  return std::nullopt;
}

std::string FakeGeminiServer::answer_body(const std::string& text) {
  return json{{"candidates",
               {{{"content", {{"parts", {{{"text", text}}}}, {"role", "model"}}},
                 {"finishReason", "STOP"},
                 {"index", 0}}}},
              {"usageMetadata",
               {{"promptTokenCount", 10}, {"candidatesTokenCount", 5}, {"totalTokenCount", 15}}},
              {"modelVersion", "fake"}}
      .dump();
}

std::string FakeGeminiServer::error_body(int code, const std::string& message,
                                         const std::string& status) {
  return json{{"error", {{"code", code}, {"message", message}, {"status", status}}}}.dump();
}

std::vector<FakeGeminiServer::Recorded> FakeGeminiServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<FakeGeminiServer::Recorded> FakeGeminiServer::generate_requests() const {
  std::lock_guard lock(mutex_);
  return generate_requests_;
}

std::map<std::string, std::string> FakeGeminiServer::files() const {
  std::lock_guard lock(mutex_);
  std::map<std::string, std::string> out;
  for (const auto& [name, file] : files_) out[name] = file.content;
  return out;
}

std::vector<std::string> FakeGeminiServer::removed_files() const {
  std::lock_guard lock(mutex_);
  return removed_;
}

FakeGeminiServer::Recorded FakeGeminiServer::record(const httplib::Request& request) {
  auto recorded = RecordedRequest::of(request);
  std::lock_guard lock(mutex_);
  requests_.push_back(recorded);
  return recorded;
}

bool FakeGeminiServer::key_ok(const httplib::Request& request, httplib::Response& response) const {
  if (!request.has_header("x-goog-api-key")) {
    reply_error(response, 403,
                "Method doesn't allow unregistered callers (callers without established identity). "
                "Please use API Key or other form of API consumer identity to call this API.",
                "PERMISSION_DENIED");
    return false;
  }
  if (request.get_header_value("x-goog-api-key") != api_key_) {
    reply_error(response, 400, "API key not valid. Please pass a valid API key.",
                "INVALID_ARGUMENT");
    return false;
  }
  return true;
}

std::string FakeGeminiServer::check_generate_body(const std::string& body) const {
  const auto request = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) return "Invalid JSON payload received.";
  for (const auto& [key, value] : request.items()) {
    if (key != "contents" && key != "systemInstruction" && key != "generationConfig") {
      return unknown_name(key, "");
    }
  }
  auto check_parts = [this](const json& parts, const std::string& where) -> std::string {
    if (!parts.is_array() || parts.empty())
      return "* GenerateContentRequest." + where + ": must have parts";
    for (const auto& part : parts) {
      if (!part.is_object() || part.size() != 1)
        return "* GenerateContentRequest." + where + ": one datum per part";
      if (part.contains("text")) {
        if (!part["text"].is_string()) return "Invalid value at '" + where + ".text'";
      } else if (part.contains("inlineData")) {
        const auto& data = part["inlineData"];
        if (!data.is_object() || !data.contains("mimeType") ||
            data["mimeType"].get<std::string>().empty()) {
          return "* GenerateContentRequest." + where + ".inline_data.mime_type: required";
        }
        if (!documented_media_type(data["mimeType"]))
          return unsupported_media_type(data["mimeType"]);
        if (!data.contains("data") || !data["data"].is_string() ||
            !qorl_core::base64_decode(data["data"].get<std::string>())) {
          return "Invalid value at '" + where +
                 ".inline_data.data' (TYPE_BYTES), Base64 decoding failed";
        }
      } else if (part.contains("fileData")) {
        const auto& data = part["fileData"];
        if (!data.is_object() || !data.contains("fileUri") ||
            data["fileUri"].get<std::string>().empty()) {
          return "* GenerateContentRequest." + where + ".file_data.file_uri: required";
        }
        if (data.contains("mimeType") &&
            (!data["mimeType"].is_string() || !documented_media_type(data["mimeType"]))) {
          return unsupported_media_type(data["mimeType"].dump());
        }
        const std::string uri = data["fileUri"];
        const std::string files_base = base_url() + kFilesPrefix;
        if (uri.rfind(files_base, 0) == 0) {
          const std::string name = "files/" + uri.substr(files_base.size());
          const auto file = files_.find(name);
          if (file == files_.end()) return "File " + name + " does not exist.";
          if (file->second.processing_reads > 0 || final_state_ != "ACTIVE") {
            return "The File " + name + " is not in an ACTIVE state and usage is not allowed.";
          }
        }
      } else {
        return unknown_name(part.begin().key(), where);
      }
    }
    return {};
  };
  if (request.contains("systemInstruction")) {
    if (auto problem = check_parts(request["systemInstruction"].value("parts", json()),
                                   "system_instruction.parts");
        !problem.empty()) {
      return problem;
    }
  }
  if (!request.contains("contents") || !request["contents"].is_array() ||
      request["contents"].empty()) {
    return "* GenerateContentRequest.contents: contents is not specified";
  }
  for (const auto& content : request["contents"]) {
    const std::string role = content.value("role", "");
    if (role != "user" && role != "model") return "Please use a valid role: user, model.";
    if (auto problem = check_parts(content.value("parts", json()), "contents.parts");
        !problem.empty()) {
      return problem;
    }
  }
  if (request.contains("generationConfig")) {
    const auto& config = request["generationConfig"];
    if (config.contains("responseSchema")) {
      if (config.value("responseMimeType", "") != "application/json") {
        return "* GenerateContentRequest.generation_config.response_mime_type: allowed mimetypes "
               "are `text/plain`, `application/json`, `application/xml`, `application/yaml` and "
               "`text/x.enum`.";
      }
      if (auto problem =
              check_schema(config["responseSchema"], "generation_config.response_schema");
          !problem.empty()) {
        return problem;
      }
    }
  }
  return {};
}

void FakeGeminiServer::generate(const httplib::Request& request, httplib::Response& response) {
  Recorded recorded = record(request);
  if (!key_ok(request, response)) return;
  std::string problem;
  std::optional<Reply> reply;
  std::string text;
  {
    std::lock_guard lock(mutex_);
    if (request.body.size() > request_size_limit_) {
      problem = "Request payload size exceeds the limit: " + std::to_string(request_size_limit_) +
                " bytes.";
    } else {
      problem = check_generate_body(request.body);
    }
    if (problem.empty()) {
      generate_requests_.push_back(std::move(recorded));
      if (!replies_.empty()) {
        reply = std::move(replies_.front());
        replies_.pop_front();
      } else {
        reply = quota_refusal();
      }
      text = answer_text_;
    }
  }
  if (!problem.empty()) return reply_error(response, 400, problem, "INVALID_ARGUMENT");
  if (!reply) return response.set_content(answer_body(text), "application/json");
  reply->send(response);
}

std::string FakeGeminiServer::file_json(const std::string& name, const StoredFile& file) const {
  const std::string state = file.processing_reads > 0 ? "PROCESSING" : final_state_;
  json out{{"name", name},
           {"mimeType", file.mime_type},
           {"sizeBytes", std::to_string(file.content.size())},
           {"uri", base_url() + kFilesPrefix + name.substr(6)},
           {"state", state},
           {"source", "UPLOADED"}};
  if (!file.display_name.empty()) out["displayName"] = file.display_name;
  return out.dump();
}

void FakeGeminiServer::upload(const httplib::Request& request, httplib::Response& response) {
  record(request);
  const std::string command = request.get_header_value("X-Goog-Upload-Command");
  if (!request.has_param("upload_id")) {
    if (!key_ok(request, response)) return;
    const std::string length = request.get_header_value("X-Goog-Upload-Header-Content-Length");
    const auto metadata = json::parse(request.body, nullptr, /*allow_exceptions=*/false);
    if (request.get_header_value("X-Goog-Upload-Protocol") != "resumable" || command != "start" ||
        length.empty() || length.find_first_not_of("0123456789") != std::string::npos ||
        !request.has_header("X-Goog-Upload-Header-Content-Type") || !metadata.is_object()) {
      return reply_error(response, 400, "Invalid resumable upload start request.",
                         "INVALID_ARGUMENT");
    }
    const std::string type = request.get_header_value("X-Goog-Upload-Header-Content-Type");
    // Batch input files go up as JSON Lines.
    if (!documented_media_type(type) && type != "application/jsonl") {
      return reply_error(response, 400, unsupported_media_type(type), "INVALID_ARGUMENT");
    }
    std::string display_name;
    if (metadata.contains("file") && metadata["file"].contains("displayName")) {
      display_name = metadata["file"]["displayName"];
    }
    std::string id;
    {
      std::lock_guard lock(mutex_);
      id = std::to_string(next_id_++);
      pending_[id] = {display_name, type, std::stoul(length)};
    }
    response.set_header("X-Goog-Upload-URL", base_url() + "/upload/v1beta/files?upload_id=" + id +
                                                 "&upload_protocol=resumable");
    response.set_header("X-Goog-Upload-Status", "active");
    return;
  }
  std::lock_guard lock(mutex_);
  const auto pending = pending_.find(request.get_param_value("upload_id"));
  if (pending == pending_.end()) {
    return reply_error(response, 404, "Upload session not found.", "NOT_FOUND");
  }
  if (command != "upload, finalize" || request.get_header_value("X-Goog-Upload-Offset") != "0" ||
      request.body.size() != pending->second.length) {
    return reply_error(response, 400, "Invalid upload chunk.", "INVALID_ARGUMENT");
  }
  const std::string name = "files/" + pending->first;
  StoredFile file{pending->second.display_name, pending->second.mime_type, request.body,
                  processing_reads_};
  pending_.erase(pending);
  response.set_header("X-Goog-Upload-Status", "final");
  response.set_content("{\"file\": " + file_json(name, file) + "}", "application/json");
  files_[name] = std::move(file);
}

void FakeGeminiServer::file_status(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  std::lock_guard lock(mutex_);
  const auto file = files_.find("files/" + request.matches[1].str());
  if (file == files_.end()) return reply_error(response, 404, "File not found.", "NOT_FOUND");
  if (file->second.processing_reads > 0) --file->second.processing_reads;
  response.set_content(file_json(file->first, file->second), "application/json");
}

void FakeGeminiServer::file_remove(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  std::lock_guard lock(mutex_);
  const std::string name = "files/" + request.matches[1].str();
  if (!files_.erase(name)) return reply_error(response, 404, "File not found.", "NOT_FOUND");
  removed_.push_back(name);
  response.set_content("{}", "application/json");
}

void FakeGeminiServer::set_batch_states(std::vector<std::string> states) {
  std::lock_guard lock(mutex_);
  batch_states_ = std::move(states);
}

std::map<std::string, std::vector<std::string>> FakeGeminiServer::batches() const {
  std::lock_guard lock(mutex_);
  std::map<std::string, std::vector<std::string>> out;
  for (const auto& [name, batch] : batches_) {
    for (const auto& [key, request] : batch.requests) out[name].push_back(key);
  }
  return out;
}

std::vector<std::string> FakeGeminiServer::cancelled_batches() const {
  std::lock_guard lock(mutex_);
  return cancelled_batches_;
}

std::vector<std::string> FakeGeminiServer::deleted_batches() const {
  std::lock_guard lock(mutex_);
  return deleted_batches_;
}

void FakeGeminiServer::batch_create(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  const auto body = json::parse(request.body, nullptr, /*allow_exceptions=*/false);
  const auto invalid = [&](const std::string& message) {
    reply_error(response, 400, message, "INVALID_ARGUMENT");
  };
  if (!body.is_object() || !body.contains("batch") || !body["batch"].is_object())
    return invalid("* BatchGenerateContentRequest.batch: required");
  const json& batch_json = body["batch"];
  if (!batch_json.contains("displayName") || !batch_json["displayName"].is_string())
    return invalid("* BatchGenerateContentRequest.batch.display_name: required");
  const json config = batch_json.value("inputConfig", json());
  if (!config.is_object() || config.size() != 1)
    return invalid("* BatchGenerateContentRequest.batch.input_config: one source required");
  std::lock_guard lock(mutex_);
  Batch batch;
  batch.model = request.matches[1].str();
  batch.display_name = batch_json["displayName"].get<std::string>();
  const auto add = [&](const json& item, const std::string& key) -> std::string {
    if (!item.contains("request") || !item["request"].is_object()) return "request required";
    if (key.empty()) return "key required";
    if (auto problem = check_generate_body(item["request"].dump()); !problem.empty())
      return problem;
    batch.requests.emplace_back(key, item["request"].dump());
    return {};
  };
  if (config.contains("requests")) {
    const json items = config["requests"].value("requests", json());
    if (!items.is_array() || items.empty()) return invalid("* inline requests: required");
    for (const auto& item : items) {
      const std::string key = item.value("metadata", json::object()).value("key", "");
      if (auto problem = add(item, key); !problem.empty()) return invalid(problem);
    }
  } else if (config.contains("fileName") && config["fileName"].is_string()) {
    const auto file = files_.find(config["fileName"].get<std::string>());
    if (file == files_.end()) return invalid("File " + config["fileName"].dump() + " not found");
    if (file->second.mime_type != "application/jsonl") return invalid("Input file must be JSONL");
    std::istringstream lines(file->second.content);
    for (std::string line; std::getline(lines, line);) {
      if (line.empty()) continue;
      const auto item = json::parse(line, nullptr, /*allow_exceptions=*/false);
      if (!item.is_object()) return invalid("Invalid JSON line in the input file");
      if (auto problem = add(item, item.value("key", "")); !problem.empty())
        return invalid(problem);
    }
    batch.from_file = true;
  } else {
    return invalid("* BatchGenerateContentRequest.batch.input_config: unknown source");
  }
  batch.state = batch_states_.front();
  const std::string name = "batches/batch-" + std::to_string(next_id_++);
  response.set_content(batch_operation(name, batches_[name] = std::move(batch)),
                       "application/json");
}

std::string FakeGeminiServer::batch_operation(const std::string& name, Batch& batch) {
  static const std::set<std::string> kFinal{"BATCH_STATE_SUCCEEDED", "BATCH_STATE_FAILED",
                                            "BATCH_STATE_CANCELLED", "BATCH_STATE_EXPIRED"};
  json operation{
      {"name", name},
      {"metadata",
       {{"@type", "type.googleapis.com/google.ai.generativelanguage.v1beta.GenerateContentBatch"},
        {"model", "models/" + batch.model},
        {"displayName", batch.display_name},
        {"name", name},
        {"state", batch.state},
        {"batchStats", {{"requestCount", std::to_string(batch.requests.size())}}}}}};
  if (!kFinal.count(batch.state)) return operation.dump();
  operation["done"] = true;
  if (batch.state != "BATCH_STATE_SUCCEEDED") {
    operation["error"] = {{"code", batch.state == "BATCH_STATE_CANCELLED" ? 1 : 4},
                          {"message", "Batch ended in state " + batch.state}};
    return operation.dump();
  }
  json answers = json::array();
  for (auto it = batch.requests.rbegin(); it != batch.requests.rend(); ++it) {
    const json request = json::parse(it->second);
    const std::string text = request["contents"][0]["parts"][0].value("text", "");
    json line;
    if (it->second.find("fail in batch") != std::string::npos) {
      line["error"] = {{"code", 400},
                       {"message", "Request contains an invalid argument."},
                       {"status", "INVALID_ARGUMENT"}};
    } else {
      line["response"] =
          json::parse(answer_body(batch_answer_text_.value_or("Answer to: " + text)));
    }
    answers.push_back(json::array({it->first, line}));
  }
  json output{
      {"@type",
       "type.googleapis.com/google.ai.generativelanguage.v1beta.GenerateContentBatchOutput"}};
  if (batch.from_file) {
    if (batch.responses_file.empty()) {
      std::string lines;
      for (const auto& answer : answers) {
        json line = answer[1];
        line["key"] = answer[0];
        lines += line.dump() + "\n";
      }
      batch.responses_file = "files/" + std::to_string(next_id_++);
      files_[batch.responses_file] = {"", "application/jsonl", lines, 0};
    }
    output["responsesFile"] = batch.responses_file;
  } else {
    json inlined = json::array();
    for (const auto& answer : answers) {
      json line = answer[1];
      line["metadata"] = {{"key", answer[0]}};
      inlined.push_back(line);
    }
    output["inlinedResponses"] = {{"inlinedResponses", inlined}};
  }
  operation["response"] = output;
  return operation.dump();
}

void FakeGeminiServer::batch_get(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  std::lock_guard lock(mutex_);
  const std::string name = "batches/" + request.matches[1].str();
  const auto batch = batches_.find(name);
  if (batch == batches_.end()) return reply_error(response, 404, "Batch not found.", "NOT_FOUND");
  // Each read moves a batch one state along, unless it was cancelled.
  auto& entry = batch->second;
  if (entry.state != "BATCH_STATE_CANCELLED" && entry.step + 1 < batch_states_.size())
    entry.state = batch_states_[++entry.step];
  response.set_content(batch_operation(name, entry), "application/json");
}

void FakeGeminiServer::batch_cancel(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  std::lock_guard lock(mutex_);
  const std::string name = "batches/" + request.matches[1].str();
  const auto batch = batches_.find(name);
  if (batch == batches_.end()) return reply_error(response, 404, "Batch not found.", "NOT_FOUND");
  batch->second.state = "BATCH_STATE_CANCELLED";
  cancelled_batches_.push_back(name);
  response.set_content("{}", "application/json");
}

void FakeGeminiServer::batch_delete(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  std::lock_guard lock(mutex_);
  const std::string name = "batches/" + request.matches[1].str();
  if (!batches_.erase(name)) return reply_error(response, 404, "Batch not found.", "NOT_FOUND");
  deleted_batches_.push_back(name);
  response.set_content("{}", "application/json");
}

void FakeGeminiServer::file_download(const httplib::Request& request, httplib::Response& response) {
  record(request);
  if (!key_ok(request, response)) return;
  if (request.get_param_value("alt") != "media")
    return reply_error(response, 400, "Download needs alt=media.", "INVALID_ARGUMENT");
  std::lock_guard lock(mutex_);
  const auto file = files_.find("files/" + request.matches[1].str());
  if (file == files_.end()) return reply_error(response, 404, "File not found.", "NOT_FOUND");
  response.set_content(file->second.content, file->second.mime_type);
}

}  // namespace qorl_testing
