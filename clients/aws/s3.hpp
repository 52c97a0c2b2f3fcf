// Amazon S3 GetObject over the REST protocol, signed with SigV4. The client resolves region,
// endpoint and credentials the way the AWS tools do unless the options fix them.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <optional>
#include <string>

#include "clients/aws/credentials.hpp"
#include "clients/http/policy.hpp"

namespace clients::aws {

// An error answer of S3 (status, code and message of its XML error document): "S3 GetObject
// failed: HTTP 404 NoSuchKey: The specified key does not exist."; a redirect says so. Service
// "S3"; code() is empty when the answer carried no error document.
class S3Error : public Error {
 public:
  S3Error(long status, const std::string& code, const std::string& message);
  long status() const noexcept { return *http_status(); }
  // S3 refused the credentials themselves (unknown key, bad signature, expired token), not
  // what they may do.
  bool is_credentials_problem() const noexcept;
};

struct S3ClientOptions {
  // None: AWS_REGION, AWS_DEFAULT_REGION, the profile's region, else us-east-1; a bucket that
  // lives elsewhere is found through S3's region redirect.
  std::optional<std::string> region;
  // None: AWS_ENDPOINT_URL_S3, AWS_ENDPOINT_URL, else the regional AWS endpoint. An endpoint
  // given either way is addressed path-style (endpoint/bucket/key).
  std::optional<std::string> endpoint_url;
  // None: the default credential chain, consulted at the first request.
  std::shared_ptr<CredentialsProvider> credentials;
  // Retries, stall guard and download cap of every exchange.
  clients::http::CallPolicy policy = clients::http::default_call_policy();
};

struct GetObjectRequest {
  std::string bucket;
  std::string key;
};

struct GetObjectResult {
  std::string body;
  std::string content_type;
};

class S3Connection {
 public:
  virtual ~S3Connection() = default;
  // Throws S3Error for an error answer, NoCredentialsError, or http::Error for a failed
  // transfer or an object past the download cap.
  virtual boost::asio::awaitable<GetObjectResult> get_object(GetObjectRequest request) = 0;
};

// The REST connection on the caller's executor: one call per request (two after a region
// redirect), each retried as the policy allows.
std::shared_ptr<S3Connection> make_s3_connection(S3ClientOptions options = {});

class S3Client {
 public:
  explicit S3Client(S3ClientOptions options = {})
      : S3Client(make_s3_connection(std::move(options))) {}
  explicit S3Client(std::shared_ptr<S3Connection> connection)
      : connection_(std::move(connection)) {}

  [[nodiscard]] boost::asio::awaitable<GetObjectResult> get_object(GetObjectRequest request) const {
    return connection_->get_object(std::move(request));
  }

 private:
  std::shared_ptr<S3Connection> connection_;
};

}  // namespace clients::aws
