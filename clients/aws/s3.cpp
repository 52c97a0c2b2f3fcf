#include "clients/aws/s3.hpp"

#include <boost/url/parse.hpp>

#include <algorithm>
#include <cctype>

#include "clients/aws/shared_config.hpp"
#include "clients/aws/sigv4.hpp"
#include "clients/http/http.hpp"
#include "clients/http/policy.hpp"

namespace clients::aws {
namespace {

// The text of the first <tag>...</tag> of an S3 XML error document, entities decoded.
std::string xml_text(const std::string& xml, const std::string& tag) {
  const auto start = xml.find("<" + tag + ">");
  if (start == std::string::npos) return {};
  const auto begin = start + tag.size() + 2;
  const auto end = xml.find("</" + tag + ">", begin);
  if (end == std::string::npos) return {};
  std::string text = xml.substr(begin, end - begin);
  for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, std::pair{"&gt;", ">"},
                                          std::pair{"&quot;", "\""}, std::pair{"&apos;", "'"},
                                          std::pair{"&amp;", "&"}}) {
    for (auto at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
      text.replace(at, std::string_view(entity).size(), character);
    }
  }
  return text;
}

// Names usable as a host label: virtual-hosted addressing works for them over TLS.
bool dns_compatible(const std::string& bucket) {
  if (bucket.size() < 3 || bucket.size() > 63 || bucket.front() == '-' || bucket.back() == '-') {
    return false;
  }
  return std::all_of(bucket.begin(), bucket.end(), [](unsigned char c) {
    return std::islower(c) || std::isdigit(c) || c == '-';
  });
}

struct Target {
  std::string origin;  // scheme://authority
  std::string host;    // the Host header: authority without a default port
  std::string path;    // encoded
};

class RestS3Connection final : public S3Connection {
 public:
  explicit RestS3Connection(S3ClientOptions options)
      : region_(options.region ? *options.region : resolve_region()),
        endpoint_(options.endpoint_url ? options.endpoint_url : s3_endpoint_url()),
        credentials_(options.credentials ? options.credentials
                                         : std::make_shared<DefaultCredentialsChain>()),
        policy_(std::move(options.policy)) {
    if (endpoint_) {
      while (endpoint_->ends_with('/')) endpoint_->pop_back();
      if (!boost::urls::parse_uri(*endpoint_)) throw Error("invalid S3 endpoint URL");
    }
  }

  boost::asio::awaitable<GetObjectResult> get_object(const GetObjectRequest& request) override {
    const Credentials credentials = co_await credentials_->credentials();
    std::string region = region_;
    http::Response response = co_await send(request, credentials, region);
    if (auto moved = redirected_region(response); moved && *moved != region) {
      region = *moved;
      response = co_await send(request, credentials, region);
    }
    if (response.status != 200) throw error_of(response);
    std::string content_type = response.header("content-type").value_or("");
    co_return GetObjectResult{std::move(response.body), std::move(content_type)};
  }

 private:
  Target target(const GetObjectRequest& request, const std::string& region) const {
    const std::string key = encode_path(request.key);
    if (endpoint_) {
      const auto url = *boost::urls::parse_uri(*endpoint_);
      const bool default_port = !url.has_port() ||
                                (url.scheme() == "http" && url.port_number() == 80) ||
                                (url.scheme() == "https" && url.port_number() == 443);
      std::string host(url.encoded_host());
      if (!default_port) host += ":" + std::string(url.port());
      return {std::string(url.scheme()) + "://" + std::string(url.encoded_authority()), host,
              std::string(url.encoded_path()) + "/" + http::url_encode(request.bucket) + "/" + key};
    }
    const std::string service_host = "s3." + region + ".amazonaws.com";
    if (dns_compatible(request.bucket)) {
      const std::string host = request.bucket + "." + service_host;
      return {"https://" + host, host, "/" + key};
    }
    return {"https://" + service_host, service_host, "/" + http::url_encode(request.bucket) + "/" + key};
  }

  boost::asio::awaitable<http::Response> send(const GetObjectRequest& request,
                                              const Credentials& credentials,
                                              const std::string& region) const {
    const Target where = target(request, region);
    SignableRequest signable;
    signable.path = where.path;
    signable.query = {{"x-id", "GetObject"}};
    signable.headers = {{"host", where.host},
                        {"x-amz-content-sha256", std::string(EMPTY_PAYLOAD_HASH)}};
    signable.payload_hash = std::string(EMPTY_PAYLOAD_HASH);
    sign(signable, credentials, {region, "s3"}, std::chrono::system_clock::now());

    http::Request http_request;
    http_request.url = where.origin + where.path + "?" + encode_query(signable.query);
    http_request.headers = std::move(signable.headers);
    http_request.follow_redirects = false;  // a redirect must be signed anew
    // A repeat resends the same signature, valid for minutes.
    http::CallOptions options{http::CallKind::kDownload};
    co_return co_await http::call(std::move(http_request), policy_, std::move(options));
  }

  // The bucket's own region when S3 says the request went to the wrong one.
  static std::optional<std::string> redirected_region(const http::Response& response) {
    if (response.status != 301 && response.status != 307 && response.status != 400) {
      return std::nullopt;
    }
    if (auto region = response.header("x-amz-bucket-region")) return region;
    if (response.status == 400 && xml_text(response.body, "Code") != "AuthorizationHeaderMalformed") {
      return std::nullopt;
    }
    std::string region = xml_text(response.body, "Region");
    if (region.empty()) return std::nullopt;
    return region;
  }

  static S3Error error_of(const http::Response& response) {
    std::string code = xml_text(response.body, "Code");
    std::string message = xml_text(response.body, "Message");
    if (code.empty()) code = std::to_string(response.status);
    if (message.empty()) message = response.reason;
    return S3Error(response.status, code, message);
  }

  std::string region_;
  std::optional<std::string> endpoint_;
  std::shared_ptr<CredentialsProvider> credentials_;
  http::CallPolicy policy_;
};

}  // namespace

S3Error::S3Error(long status, std::string code, const std::string& message)
    : Error("An error occurred (" + code + ") when calling the GetObject operation: " + message),
      status_(status),
      code_(std::move(code)) {}

std::shared_ptr<S3Connection> make_s3_connection(S3ClientOptions options) {
  return std::make_shared<RestS3Connection>(std::move(options));
}

}  // namespace clients::aws
