// Google Cloud Storage JSON API: simple (media) uploads and deletions of objects.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "clients/google/oauth2.hpp"
#include "clients/http/policy.hpp"

namespace clients::google {

inline constexpr std::string_view STORAGE_ENDPOINT = "https://storage.googleapis.com";
inline constexpr std::string_view DEFAULT_CONTENT_TYPE = "application/octet-stream";

struct StorageOptions {
  // None: env STORAGE_EMULATOR_HOST, then CLOUD_STORAGE_EMULATOR_ENDPOINT, else STORAGE_ENDPOINT.
  // An address without a scheme ("localhost:9023") is spoken to over http.
  std::optional<std::string> endpoint{};
  // Null: requests carry no token.
  std::shared_ptr<Credentials> credentials{};
  // Retries, stall guard and answer cap of every exchange.
  http::CallPolicy policy = http::default_call_policy();
};

struct ObjectMetadata {
  std::string bucket;
  std::string name;
  std::uint64_t size = 0;
};

class StorageConnection {
 public:
  virtual ~StorageConnection() = default;
  // Creates or replaces the object; under a fixed name, repeating it is harmless. Throws
  // HttpError for an error status (a missing bucket answers 404), http::Error for a failed
  // transfer.
  virtual boost::asio::awaitable<ObjectMetadata> insert_object(std::string bucket, std::string name,
                                                               std::string data,
                                                               std::string content_type) = 0;
  // Throws HttpError for an error status (a missing object answers 404, unless it went on a
  // repeated request), http::Error.
  virtual boost::asio::awaitable<void> delete_object(std::string bucket, std::string name) = 0;
};

std::shared_ptr<StorageConnection> make_storage_connection(StorageOptions options);

class StorageClient {
 public:
  explicit StorageClient(StorageOptions options)
      : StorageClient(make_storage_connection(std::move(options))) {}
  explicit StorageClient(std::shared_ptr<StorageConnection> connection)
      : connection_(std::move(connection)) {}

  [[nodiscard]] boost::asio::awaitable<ObjectMetadata> insert_object(
      std::string bucket, std::string name, std::string data,
      std::string content_type = std::string(DEFAULT_CONTENT_TYPE)) const {
    return connection_->insert_object(std::move(bucket), std::move(name), std::move(data),
                                      std::move(content_type));
  }
  [[nodiscard]] boost::asio::awaitable<void> delete_object(std::string bucket,
                                                           std::string name) const {
    return connection_->delete_object(std::move(bucket), std::move(name));
  }

 private:
  std::shared_ptr<StorageConnection> connection_;
};

}  // namespace clients::google
