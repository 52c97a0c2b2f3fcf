// An S3 endpoint on loopback that checks SigV4 signatures like S3 does (key, secret, region,
// signed x-amz-content-sha256) and answers GetObject with S3's XML errors.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "testing/http_server.hpp"

namespace qorl_testing {

class FakeS3 {
 public:
  // Buckets live in `region`; a request signed for another region is redirected there.
  FakeS3(std::string access_key_id, std::string secret_access_key,
         std::string region = "us-east-1");

  void put(const std::string& bucket, const std::string& key, const std::string& content);
  std::string endpoint() const { return server_.url(); }
  // The signing region of every request received, in order.
  std::vector<std::string> signing_regions() const;

 private:
  void handle(const httplib::Request& request, httplib::Response& response);

  std::string access_key_id_;
  std::string secret_access_key_;
  std::string region_;
  mutable std::mutex mutex_;
  std::map<std::string, std::map<std::string, std::string>> buckets_;
  std::vector<std::string> signing_regions_;
  HttpServer server_;
};

}  // namespace qorl_testing
