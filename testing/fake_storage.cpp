#include "testing/fake_storage.hpp"

#include <thread>

#include <nlohmann/json.hpp>

namespace qorl_testing {

namespace {

constexpr const char* kScope = "https://www.googleapis.com/auth/cloud-platform";

}  // namespace

FakeStorage::FakeStorage(const FakeGoogle& google) : google_(google) {
  auto& http = server_.server();
  http.Post(R"(/upload/storage/v1/b/([^/]+)/o)",
            [this](const httplib::Request& q, httplib::Response& r) { upload(q, r); });
  // The server matches the decoded path; the object name must have been one encoded segment.
  http.Delete(R"(/storage/v1/b/([^/]+)/o/(.+))",
              [this](const httplib::Request& q, httplib::Response& r) { remove(q, r); });
  server_.start();
}

void FakeStorage::add_bucket(const std::string& bucket) {
  std::lock_guard lock(mutex_);
  buckets_[bucket];
}

std::optional<std::string> FakeStorage::object(const std::string& bucket,
                                               const std::string& name) const {
  std::lock_guard lock(mutex_);
  const auto found = buckets_.find(bucket);
  if (found == buckets_.end() || !found->second.contains(name)) return std::nullopt;
  return found->second.at(name);
}

std::vector<std::string> FakeStorage::object_names(const std::string& bucket) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  if (const auto found = buckets_.find(bucket); found != buckets_.end()) {
    for (const auto& [name, data] : found->second) names.push_back(name);
  }
  return names;
}

std::vector<FakeStorage::Upload> FakeStorage::uploads() const {
  std::lock_guard lock(mutex_);
  return uploads_;
}

std::vector<std::string> FakeStorage::deletions() const {
  std::lock_guard lock(mutex_);
  return deletions_;
}

void FakeStorage::fail_next_delete(int status) {
  std::lock_guard lock(mutex_);
  failing_delete_status_ = status;
}

void FakeStorage::delay_upload_answers(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  upload_answer_delay_ = delay;
}

bool FakeStorage::authorized(const httplib::Request& request, httplib::Response& response) const {
  if (google_.authorizes(request.get_header_value("Authorization"), kScope)) return true;
  send_google_error(response, 401, "Invalid Credentials");
  return false;
}

void FakeStorage::upload(const httplib::Request& request, httplib::Response& response) {
  if (!authorized(request, response)) return;
  const std::string bucket = request.matches[1];
  const std::string name = request.get_param_value("name");
  if (request.get_param_value("uploadType") != "media") {
    return send_google_error(response, 400,
                             "Upload requests must include an uploadType URL parameter.");
  }
  if (name.empty()) return send_google_error(response, 400, "Required");
  std::string content_type = request.get_header_value("Content-Type");
  if (content_type.empty()) content_type = "application/octet-stream";

  std::unique_lock lock(mutex_);
  const auto found = buckets_.find(bucket);
  if (found == buckets_.end()) {
    return send_google_error(response, 404, "The specified bucket does not exist.");
  }
  found->second[name] = request.body;
  uploads_.push_back({bucket, name, content_type, request.body.size()});
  const std::string generation = std::to_string(++generation_);
  response.set_content(nlohmann::json{{"kind", "storage#object"},
                                      {"id", bucket + "/" + name + "/" + generation},
                                      {"name", name},
                                      {"bucket", bucket},
                                      {"generation", generation},
                                      {"metageneration", "1"},
                                      {"contentType", content_type},
                                      {"storageClass", "STANDARD"},
                                      {"size", std::to_string(request.body.size())}}
                           .dump(),
                       "application/json; charset=UTF-8");
  const auto delay = upload_answer_delay_;
  lock.unlock();
  std::this_thread::sleep_for(delay);
}

void FakeStorage::remove(const httplib::Request& request, httplib::Response& response) {
  const std::string bucket = request.matches[1];
  const std::string name = request.matches[2];
  std::unique_lock lock(mutex_);
  deletions_.push_back(bucket + "/" + name);
  lock.unlock();
  if (!authorized(request, response)) return;
  // An unencoded "/" in the name would address another resource.
  const std::string raw = request.target.substr(0, request.target.find('?'));
  if (raw.find('/', raw.find("/o/") + 3) != std::string::npos) {
    return send_google_error(response, 404, "Not Found");
  }

  lock.lock();
  if (failing_delete_status_ != 0) {
    const int status = std::exchange(failing_delete_status_, 0);
    return send_google_error(response, status, "Backend Error");
  }
  const auto found = buckets_.find(bucket);
  if (found == buckets_.end() || found->second.erase(name) == 0) {
    return send_google_error(response, 404, "No such object: " + bucket + "/" + name);
  }
  response.status = 204;
}

}  // namespace qorl_testing
