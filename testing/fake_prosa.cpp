#include "testing/fake_prosa.hpp"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include <algorithm>

namespace qorl_testing {

namespace {

using json = nlohmann::ordered_json;

constexpr const char* kTimestamp = "2024-05-01T08:00:00Z";

void answer(httplib::Response& response, int status, const json& body) {
  response.status = status;
  response.set_content(body.dump(), "application/json");
}

// A request validation failure in the service's format.
json validation_error(const std::vector<std::string>& location, const std::string& message,
                      const std::string& type) {
  return {{"detail", json::array({{{"loc", location}, {"msg", message}, {"type", type}}})}};
}

}  // namespace

FakeProsa::FakeProsa() {
  auto& server = server_.server();
  server.Post("/v2/speech/stt", [this](const httplib::Request& request,
                                       httplib::Response& response) { submit(request, response); });
  server.Get(R"(/v2/speech/stt/([^/]+))",
             [this](const httplib::Request& request, httplib::Response& response) {
               query(request, response);
             });
  server_.start();
}

void FakeProsa::set_statuses(std::vector<std::string> statuses) {
  std::lock_guard lock(mutex_);
  statuses_ = std::move(statuses);
}

void FakeProsa::set_result_data(std::string data_json) {
  std::lock_guard lock(mutex_);
  result_data_ = std::move(data_json);
}

void FakeProsa::queue_submission_reply(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  submission_replies_.push_back(std::move(reply));
}

void FakeProsa::queue_query_reply(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  query_replies_.push_back(std::move(reply));
}

std::vector<RecordedRequest> FakeProsa::submissions() const {
  std::lock_guard lock(mutex_);
  return submissions_;
}

std::vector<FakeProsa::Query> FakeProsa::queries() const {
  std::lock_guard lock(mutex_);
  return queries_;
}

std::string FakeProsa::check_submission(const std::string& body) {
  const json request = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (!request.is_object()) return "body";
  const auto config = request.find("config");
  if (config == request.end() || !config->is_object()) return "config";
  const auto model = config->find("model");
  if (model == config->end() || !model->is_string()) return "config.model";
  for (const char* flag : {"wait", "auto_punctuation"}) {
    const auto value = config->find(flag);
    if (value != config->end() && !value->is_boolean()) return std::string("config.") + flag;
  }
  const auto audio = request.find("request");
  if (audio == request.end() || !audio->is_object()) return "request";
  const auto data = audio->find("data");
  const auto uri = audio->find("uri");
  const bool has_data =
      data != audio->end() && data->is_string() && !data->get<std::string>().empty();
  const bool has_uri = uri != audio->end() && uri->is_string() && !uri->get<std::string>().empty();
  if (has_data == has_uri) return "request.data";
  return "";
}

namespace {

// Sends the next scripted reply, if one is queued, outside the lock.
bool send_scripted(std::deque<ScriptedReply>& replies, std::unique_lock<std::mutex>& lock,
                   httplib::Response& response) {
  if (replies.empty()) return false;
  const ScriptedReply reply = replies.front();
  replies.pop_front();
  lock.unlock();
  reply.send(response);
  return true;
}

}  // namespace

void FakeProsa::submit(const httplib::Request& request, httplib::Response& response) {
  std::unique_lock lock(mutex_);
  submissions_.push_back(RecordedRequest::of(request));
  if (send_scripted(submission_replies_, lock, response)) return;
  if (request.get_header_value("x-api-key") != kApiKey) {
    answer(response, 401, {{"detail", "Invalid API key"}});
    return;
  }
  if (const std::string failure = check_submission(request.body); !failure.empty()) {
    std::vector<std::string> location{"body"};
    if (failure != "body") location.push_back(failure);
    answer(response, 422, validation_error(location, "invalid or missing field", "value_error"));
    return;
  }
  const json body = json::parse(request.body);
  const std::string job_id = fmt::format("{:032x}", next_job_++);
  json label = json::object({{"label", nullptr}});
  if (body["request"].contains("uri")) label["uri"] = body["request"]["uri"];
  jobs_[job_id] = {body["config"].dump(), label.dump(), 0};
  answer(response, 200,
         {{"job_id", job_id},
          {"status", "created"},
          {"created_at", kTimestamp},
          {"modified_at", kTimestamp},
          {"request", label},
          {"job_config", body["config"]},
          {"result", nullptr}});
}

void FakeProsa::query(const httplib::Request& request, httplib::Response& response) {
  std::unique_lock lock(mutex_);
  queries_.push_back({RecordedRequest::of(request), std::chrono::steady_clock::now()});
  if (send_scripted(query_replies_, lock, response)) return;
  if (request.get_header_value("x-api-key") != kApiKey) {
    answer(response, 401, {{"detail", "Invalid API key"}});
    return;
  }
  const auto job = jobs_.find(request.matches[1].str());
  if (job == jobs_.end()) {
    answer(response, 404, {{"detail", "Job not found"}});
    return;
  }
  const std::size_t step = std::min<std::size_t>(job->second.polls++, statuses_.size() - 1);
  const std::string& status = statuses_[step];
  json record = {{"job_id", job->first},
                 {"status", status},
                 {"created_at", kTimestamp},
                 {"modified_at", kTimestamp},
                 {"request", json::parse(job->second.request_json)},
                 {"job_config", json::parse(job->second.config_json)},
                 {"result", nullptr}};
  if (status == "complete") {
    record["result"] = {{"data", json::parse(result_data_)}};
  } else if (status == "failed") {
    record["error"] = "Audio could not be decoded";
  }
  answer(response, 200, record);
}

}  // namespace qorl_testing
