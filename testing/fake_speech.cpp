#include "testing/fake_speech.hpp"

#include <set>

#include "qorl_core/base64.hpp"

namespace qorl_testing {

namespace {

using nlohmann::json;

constexpr const char* kScope = "https://www.googleapis.com/auth/cloud-platform";
constexpr const char* kMetadataType =
    "type.googleapis.com/google.cloud.speech.v1.LongRunningRecognizeMetadata";
constexpr const char* kResponseType =
    "type.googleapis.com/google.cloud.speech.v1.LongRunningRecognizeResponse";
// The service's limit for inline audio.
constexpr std::size_t kMaxInlineBytes = 10485760;

// RecognitionConfig's fields in their JSON names.
const std::set<std::string>& config_fields() {
  static const std::set<std::string> fields = {"encoding",
                                               "sampleRateHertz",
                                               "audioChannelCount",
                                               "enableSeparateRecognitionPerChannel",
                                               "languageCode",
                                               "alternativeLanguageCodes",
                                               "maxAlternatives",
                                               "profanityFilter",
                                               "adaptation",
                                               "speechContexts",
                                               "enableWordTimeOffsets",
                                               "enableWordConfidence",
                                               "enableAutomaticPunctuation",
                                               "enableSpokenPunctuation",
                                               "enableSpokenEmojis",
                                               "diarizationConfig",
                                               "metadata",
                                               "model",
                                               "useEnhanced"};
  return fields;
}

json metadata(int percent) {
  return {{"@type", kMetadataType},
          {"progressPercent", percent},
          {"startTime", "2024-05-01T10:00:00.000000Z"},
          {"lastUpdateTime", "2024-05-01T10:00:01.000000Z"}};
}

}  // namespace

FakeSpeech::FakeSpeech(const FakeGoogle& google, const FakeStorage& storage)
    : google_(google), storage_(storage) {
  auto& http = server_.server();
  http.Post("/v1/speech:longrunningrecognize",
            [this](const httplib::Request& q, httplib::Response& r) { recognize(q, r); });
  http.Get(R"(/v1/operations/([^/]+))",
           [this](const httplib::Request& q, httplib::Response& r) { get_operation(q, r); });
  finish_with({});
  server_.start();
}

void FakeSpeech::finish_with(std::vector<Result> results, int polls_before_done) {
  json response = {{"@type", kResponseType}};
  // Empty lists are left out of proto3 JSON.
  if (!results.empty()) {
    json& items = response["results"] = json::array();
    for (const Result& result : results) {
      json item = json::object();
      if (result.transcript) {
        item["alternatives"] =
            json::array({{{"transcript", *result.transcript}, {"confidence", 0.92}}});
      }
      item["resultEndTime"] = result.result_end_time;
      item["languageCode"] = result.language_code;
      items.push_back(std::move(item));
    }
    response["totalBilledTime"] = results.back().result_end_time;
  }
  response["requestId"] = "7251468311125393581";
  std::lock_guard lock(mutex_);
  next_ = {{{"response", std::move(response)}}, polls_before_done};
}

void FakeSpeech::fail_with(int code, const std::string& message, int polls_before_done) {
  std::lock_guard lock(mutex_);
  next_ = {{{"error", {{"code", code}, {"message", message}}}}, polls_before_done};
}

void FakeSpeech::never_finish() {
  std::lock_guard lock(mutex_);
  next_ = {nullptr, 0};
}

std::vector<FakeSpeech::Recognition> FakeSpeech::recognitions() const {
  std::lock_guard lock(mutex_);
  return recognitions_;
}

int FakeSpeech::polls() const {
  std::lock_guard lock(mutex_);
  return polls_;
}

bool FakeSpeech::authorized(const httplib::Request& request, httplib::Response& response) const {
  if (google_.authorizes(request.get_header_value("Authorization"), kScope)) return true;
  send_google_error(response, 401,
                    "Request had invalid authentication credentials. Expected OAuth 2 access "
                    "token, login cookie or other valid authentication credential.");
  return false;
}

std::optional<std::string> FakeSpeech::read_audio(const nlohmann::ordered_json& audio,
                                                  httplib::Response& response) const {
  if (audio.contains("content") == audio.contains("uri")) {
    send_google_error(response, 400, "RecognitionAudio not set.");
    return std::nullopt;
  }
  if (audio.contains("content")) {
    const auto content = audio["content"].is_string()
                             ? qorl_core::base64_decode(audio["content"].get<std::string>())
                             : std::nullopt;
    if (!content) {
      send_google_error(response, 400, "Invalid value at 'audio.content' (TYPE_BYTES)");
    } else if (content->size() > kMaxInlineBytes) {
      send_google_error(response, 400,
                        "Inline audio exceeds duration limit. Please use a GCS URI.");
    } else {
      return content;
    }
    return std::nullopt;
  }
  const std::string uri = audio["uri"].is_string() ? audio["uri"].get<std::string>() : "";
  const auto slash = uri.find('/', 5);
  if (!uri.starts_with("gs://") || slash == std::string::npos) {
    send_google_error(response, 400, "Invalid recognition 'audio': bad uri " + uri);
    return std::nullopt;
  }
  auto object = storage_.object(uri.substr(5, slash - 5), uri.substr(slash + 1));
  if (!object) send_google_error(response, 404, "Requested entity was not found.");
  return object;
}

void FakeSpeech::recognize(const httplib::Request& request, httplib::Response& response) {
  if (!authorized(request, response)) return;
  const auto body = nlohmann::ordered_json::parse(request.body, nullptr, false);
  if (!request.get_header_value("Content-Type").starts_with("application/json") ||
      !body.is_object() || !body.contains("config") || !body["config"].is_object() ||
      !body.contains("audio") || !body["audio"].is_object()) {
    return send_google_error(response, 400, "Invalid JSON payload received.");
  }
  const auto& config = body["config"];
  for (const auto& [name, value] : config.items()) {
    if (!config_fields().contains(name)) {
      return send_google_error(response, 400,
                               "Invalid JSON payload received. Unknown name \"" + name +
                                   "\" at 'config': Cannot find field.");
    }
  }
  if (!config.contains("languageCode")) {
    return send_google_error(response, 400, "Invalid recognition 'config': missing language_code.");
  }
  if (config.contains("alternativeLanguageCodes") &&
      config["alternativeLanguageCodes"].size() > 3) {
    return send_google_error(response, 400,
                             "Invalid recognition 'config': too many alternative language codes.");
  }
  auto audio = read_audio(body["audio"], response);
  if (!audio) return;
  // Without an encoding the service reads it from the file's header.
  if (!config.contains("encoding") && !audio->starts_with("fLaC") && !audio->starts_with("RIFF")) {
    return send_google_error(response, 400, "Invalid recognition 'config': bad encoding..");
  }

  std::lock_guard lock(mutex_);
  const std::string name = std::to_string(++serial_);
  operations_[name] = next_;
  recognitions_.push_back({body, std::move(*audio)});
  response.set_content(json{{"name", name}}.dump(), "application/json; charset=UTF-8");
}

void FakeSpeech::get_operation(const httplib::Request& request, httplib::Response& response) {
  if (!authorized(request, response)) return;
  std::lock_guard lock(mutex_);
  ++polls_;
  const auto found = operations_.find(request.matches[1]);
  if (found == operations_.end()) return send_google_error(response, 404, "Operation not found.");
  Operation& operation = found->second;
  json answer = {{"name", found->first}};
  if (operation.outcome.is_null() || operation.polls_left > 0) {
    --operation.polls_left;
    answer["metadata"] = metadata(0);
  } else {
    answer["metadata"] = metadata(100);
    answer["done"] = true;
    answer.update(operation.outcome);
  }
  response.set_content(answer.dump(), "application/json; charset=UTF-8");
}

}  // namespace qorl_testing
