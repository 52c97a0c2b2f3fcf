#include "testing/fake_s3.hpp"

#include <ctime>
#include <iomanip>
#include <regex>
#include <sstream>

#include "clients/aws/sigv4.hpp"

namespace qorl_testing {
namespace {

void xml_error(httplib::Response& response, int status, const std::string& code,
               const std::string& message, const std::string& extra = "") {
  response.status = status;
  response.set_content("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>" + code +
                           "</Code><Message>" + message + "</Message>" + extra + "</Error>",
                       "application/xml");
}

std::chrono::system_clock::time_point parse_amz_date(const std::string& text) {
  std::tm utc{};
  std::istringstream in(text);
  in >> std::get_time(&utc, "%Y%m%dT%H%M%SZ");
  return std::chrono::system_clock::from_time_t(timegm(&utc));
}

}  // namespace

FakeS3::FakeS3(std::string access_key_id, std::string secret_access_key, std::string region)
    : access_key_id_(std::move(access_key_id)),
      secret_access_key_(std::move(secret_access_key)),
      region_(std::move(region)) {
  server_.server().Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    handle(request, response);
  });
  server_.start();
}

void FakeS3::put(const std::string& bucket, const std::string& key, const std::string& content) {
  std::lock_guard lock(mutex_);
  buckets_[bucket][key] = content;
}

std::vector<std::string> FakeS3::signing_regions() const {
  std::lock_guard lock(mutex_);
  return signing_regions_;
}

void FakeS3::handle(const httplib::Request& request, httplib::Response& response) {
  static const std::regex authorization(
      R"(AWS4-HMAC-SHA256 Credential=([^/]+)/(\d{8})/([^/]+)/s3/aws4_request, )"
      R"(SignedHeaders=([a-z0-9;-]+), Signature=([0-9a-f]{64}))");
  std::smatch parts;
  const std::string header = request.get_header_value("Authorization");
  if (!std::regex_match(header, parts, authorization)) {
    return xml_error(response, 403, "AccessDenied", "Access Denied");
  }
  const std::string signing_region = parts[3];
  {
    std::lock_guard lock(mutex_);
    signing_regions_.push_back(signing_region);
  }
  if (parts[1] != access_key_id_) {
    return xml_error(response, 403, "InvalidAccessKeyId",
                     "The AWS Access Key Id you provided does not exist in our records.");
  }
  if (!request.has_header("x-amz-content-sha256")) {
    return xml_error(response, 400, "InvalidRequest",
                     "Missing required header for this request: x-amz-content-sha256");
  }
  if (signing_region != region_) {
    response.set_header("x-amz-bucket-region", region_);
    return xml_error(response, 301, "PermanentRedirect",
                     "The bucket you are attempting to access must be addressed using the "
                     "specified endpoint.");
  }

  clients::aws::SignableRequest signable;
  signable.method = request.method;
  signable.path = request.target.substr(0, request.target.find('?'));
  for (const auto& [name, value] : request.params) signable.query.emplace_back(name, value);
  std::stringstream names(parts[4]);
  for (std::string name; std::getline(names, name, ';');) {
    signable.headers.emplace_back(name, request.get_header_value(name.c_str()));
  }
  signable.payload_hash = request.get_header_value("x-amz-content-sha256");
  const std::string expected = clients::aws::signature(
      signable, {access_key_id_, secret_access_key_, "", std::nullopt}, {region_, "s3"},
      parse_amz_date(request.get_header_value("x-amz-date")));
  if (expected != parts[5].str()) {
    return xml_error(response, 403, "SignatureDoesNotMatch",
                     "The request signature we calculated does not match the signature you "
                     "provided. Check your key and signing method.");
  }

  // Path-style: /bucket/key (the server hands the path decoded).
  const auto slash = request.path.find('/', 1);
  const std::string bucket = request.path.substr(1, slash == std::string::npos ? slash : slash - 1);
  const std::string key = slash == std::string::npos ? "" : request.path.substr(slash + 1);
  std::lock_guard lock(mutex_);
  const auto found_bucket = buckets_.find(bucket);
  if (found_bucket == buckets_.end()) {
    return xml_error(response, 404, "NoSuchBucket", "The specified bucket does not exist",
                     "<BucketName>" + bucket + "</BucketName>");
  }
  const auto found = found_bucket->second.find(key);
  if (found == found_bucket->second.end()) {
    return xml_error(response, 404, "NoSuchKey", "The specified key does not exist.",
                     "<Key>" + key + "</Key>");
  }
  response.set_content(found->second, "application/octet-stream");
}

}  // namespace qorl_testing
