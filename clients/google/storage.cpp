#include "clients/google/storage.hpp"

#include <nlohmann/json.hpp>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/url.hpp"
#include "clients/google/rest.hpp"

namespace clients::google {
namespace {

std::string storage_endpoint(const std::optional<std::string>& given) {
  std::string url = common::resolve_base_url(
      given, {"STORAGE_EMULATOR_HOST", "CLOUD_STORAGE_EMULATOR_ENDPOINT"}, STORAGE_ENDPOINT);
  if (url.find("://") == std::string::npos) url = "http://" + url;
  return url;
}

std::string object_path(const std::string& bucket) {
  return "/b/" + http::url_encode(bucket) + "/o";
}

// The object resource of an answer; its size is a decimal text, as for every 64-bit number.
ObjectMetadata parse_object(const http::Response& answer) {
  const auto body = common::parse_json_or_discarded(answer.body, "Cloud Storage");
  const auto name = common::optional_field<std::string>(body, "name");
  if (!name) throw Error("Invalid Cloud Storage answer: not an object resource");
  ObjectMetadata object;
  object.name = *name;
  if (auto bucket = common::optional_field<std::string>(body, "bucket")) object.bucket = *bucket;
  if (const auto text = common::optional_field<std::string>(body, "size")) {
    const std::string& size = *text;
    if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos) {
      throw Error("Invalid Cloud Storage answer: bad size " + size);
    }
    object.size = std::stoull(size);
  }
  return object;
}

class RestStorageConnection final : public StorageConnection {
 public:
  explicit RestStorageConnection(StorageOptions options)
      : stub_(storage_endpoint(options.endpoint), std::move(options.credentials),
              std::move(options.policy)) {}

  boost::asio::awaitable<ObjectMetadata> insert_object(std::string bucket, std::string name,
                                                       std::string data,
                                                       std::string content_type) override {
    http::Request request;
    request.method = "POST";
    request.url = "/upload/storage/v1" + object_path(bucket);
    request.query = {{"uploadType", "media"}, {"name", name}};
    request.headers = {{"Content-Type", content_type}};
    request.body = std::move(data);
    const http::Response answer =
        co_await stub_.send(std::move(request), http::Idempotency::kIdempotent);
    co_return parse_object(answer);
  }

  boost::asio::awaitable<void> delete_object(std::string bucket, std::string name) override {
    http::Request request;
    request.method = "DELETE";
    request.url = "/storage/v1" + object_path(bucket) + "/" + http::url_encode(name);
    co_await stub_.send(std::move(request), http::Idempotency::kIdempotent);
  }

 private:
  internal::RestStub stub_;
};

}  // namespace

std::shared_ptr<StorageConnection> make_storage_connection(StorageOptions options) {
  return std::make_shared<RestStorageConnection>(std::move(options));
}

}  // namespace clients::google
