// The Cloud Storage JSON API on loopback, as far as media uploads and deletions go: buckets of
// objects, bearer tokens checked against a FakeGoogle, Google's JSON error answers.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testing/google_fakes.hpp"
#include "testing/http_server.hpp"

namespace qorl_testing {

class FakeStorage {
 public:
  struct Upload {
    std::string bucket;
    std::string name;
    std::string content_type;
    std::size_t size = 0;
  };

  // Accepts tokens `google` issued for the cloud-platform scope.
  explicit FakeStorage(const FakeGoogle& google);

  // For STORAGE_EMULATOR_HOST: "http://127.0.0.1:<port>".
  std::string endpoint() const { return server_.url(); }

  void add_bucket(const std::string& bucket);
  std::optional<std::string> object(const std::string& bucket, const std::string& name) const;
  // Names of the objects in the bucket, in order.
  std::vector<std::string> object_names(const std::string& bucket) const;
  std::vector<Upload> uploads() const;
  // "bucket/name" of every deletion asked for, in order, refused ones included.
  std::vector<std::string> deletions() const;
  // The next deletion is answered with this error status and the object stays.
  void fail_next_delete(int status);
  // Uploads are stored at once but answered only after `delay`.
  void delay_upload_answers(std::chrono::milliseconds delay);

 private:
  void upload(const httplib::Request& request, httplib::Response& response);
  void remove(const httplib::Request& request, httplib::Response& response);
  bool authorized(const httplib::Request& request, httplib::Response& response) const;

  const FakeGoogle& google_;
  mutable std::mutex mutex_;
  std::map<std::string, std::map<std::string, std::string>> buckets_;
  std::vector<Upload> uploads_;
  std::vector<std::string> deletions_;
  int failing_delete_status_ = 0;
  std::chrono::milliseconds upload_answer_delay_{0};
  long generation_ = 1700000000000000;
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
