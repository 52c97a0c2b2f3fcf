// AWS credentials and where they come from: explicit keys, or the default chain of the AWS
// conventions (environment, shared credentials/config files, container, instance metadata).
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "clients/common/service_error.hpp"

namespace clients::aws {

// Errors of the AWS clients, service "AWS" unless the failure names another; messages never
// hold a secret.
class Error : public ServiceError {
 public:
  explicit Error(const std::string& message, ServiceFailure failure = {"AWS"})
      : ServiceError(message, std::move(failure)) {}
};

// No source of the default chain had credentials.
class NoCredentialsError : public Error {
 public:
  NoCredentialsError() : Error("Unable to locate credentials") {}
};

struct Credentials {
  std::string access_key_id;
  std::string secret_access_key;
  std::string session_token;  // empty when there is none
  // Temporary credentials (container, instance role) expire; none for long-term keys.
  std::optional<std::chrono::system_clock::time_point> expiration;
};

// Each source answers none when it holds no credentials. The container source throws Error
// when it is configured but does not answer usable credentials. The two that ask an endpoint
// do so on the caller's executor with the default call policy (the instance metadata service
// is asked once, as its absence is the common case).
std::optional<Credentials> credentials_from_environment();
std::optional<Credentials> credentials_from_shared_files();
[[nodiscard]] boost::asio::awaitable<std::optional<Credentials>> credentials_from_container();
[[nodiscard]] boost::asio::awaitable<std::optional<Credentials>>
credentials_from_instance_metadata();

class CredentialsProvider {
 public:
  virtual ~CredentialsProvider() = default;
  // Throws NoCredentialsError when there are none.
  virtual boost::asio::awaitable<Credentials> credentials() = 0;
};

class StaticCredentialsProvider final : public CredentialsProvider {
 public:
  explicit StaticCredentialsProvider(Credentials credentials)
      : credentials_(std::move(credentials)) {}
  boost::asio::awaitable<Credentials> credentials() override { co_return credentials_; }

 private:
  Credentials credentials_;
};

// The sources in the conventional order, first hit wins; the hit is kept until shortly
// before it expires. Concurrent callers may each walk the chain; the last hit is kept.
class DefaultCredentialsChain final : public CredentialsProvider {
 public:
  boost::asio::awaitable<Credentials> credentials() override;

 private:
  std::mutex mutex_;
  std::optional<Credentials> cached_;
};

}  // namespace clients::aws
