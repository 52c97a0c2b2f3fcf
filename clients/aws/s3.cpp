#include "clients/aws/s3.hpp"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <boost/url/parse.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>

#include "clients/aws/shared_config.hpp"
#include "clients/aws/sigv4.hpp"
#include "clients/http/http.hpp"
#include "clients/http/policy.hpp"

namespace clients::aws {
namespace {

// What an S3 XML error document says: the first Code, Message and Region elements' texts.
struct ErrorDocument {
  std::string code;
  std::string message;
  std::string region;
};

void read_error_elements(const xmlNode* node, ErrorDocument& document) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    const std::string_view name = reinterpret_cast<const char*>(node->name);
    std::string* field = name == "Code"      ? &document.code
                         : name == "Message" ? &document.message
                         : name == "Region"  ? &document.region
                                             : nullptr;
    if (field && field->empty()) {
      const std::unique_ptr<xmlChar, void (*)(void*)> text(xmlNodeGetContent(node), xmlFree);
      if (text) *field = reinterpret_cast<const char*>(text.get());
    }
    read_error_elements(node->children, document);
  }
}

// Empty fields when the body is no XML document, or one with a document type declaration,
// whose entities could expand without bound.
ErrorDocument error_document(const std::string& body) {
  static const bool initialised = (xmlInitParser(), true);  // before any thread parses
  (void)initialised;
  ErrorDocument document;
  if (body.size() > static_cast<std::size_t>(INT_MAX)) return document;
  const std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(
      xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
      xmlFreeDoc);
  if (doc && !doc->intSubset && !doc->extSubset) {
    read_error_elements(xmlDocGetRootElement(doc.get()), document);
  }
  return document;
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

  boost::asio::awaitable<GetObjectResult> get_object(GetObjectRequest request) override {
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
    return {"https://" + service_host, service_host,
            "/" + http::url_encode(request.bucket) + "/" + key};
  }

  boost::asio::awaitable<http::Response> send(GetObjectRequest request, Credentials credentials,
                                              std::string region) const {
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
    ErrorDocument document = error_document(response.body);
    if (response.status == 400 && document.code != "AuthorizationHeaderMalformed") {
      return std::nullopt;
    }
    if (document.region.empty()) return std::nullopt;
    return std::move(document.region);
  }

  static S3Error error_of(const http::Response& response) {
    ErrorDocument document = error_document(response.body);
    if (document.message.empty()) document.message = response.reason;
    return S3Error(response.status, document.code, document.message);
  }

  std::string region_;
  std::optional<std::string> endpoint_;
  std::shared_ptr<CredentialsProvider> credentials_;
  http::CallPolicy policy_;
};

std::string s3_error_text(long status, const std::string& code, const std::string& message) {
  std::string text = "S3 GetObject failed: HTTP " + std::to_string(status);
  if (!code.empty()) text += " " + code;
  text += ": " + message;
  if (status >= 300 && status < 400) {
    // Requests are signed for one host and so never follow redirects.
    text +=
        " (S3 redirected the request: the bucket is in another region, or the endpoint is "
        "wrong)";
  }
  return text;
}

}  // namespace

S3Error::S3Error(long status, const std::string& code, const std::string& message)
    : Error(s3_error_text(status, code, message), http_failure("S3", status, code)) {}

bool S3Error::is_credentials_problem() const noexcept {
  // S3's codes for keys it does not know, signatures that do not match and tokens it refuses.
  static constexpr std::string_view kCodes[] = {"InvalidAccessKeyId",
                                                "SignatureDoesNotMatch",
                                                "ExpiredToken",
                                                "InvalidToken",
                                                "TokenRefreshRequired",
                                                "InvalidSecurity",
                                                "AuthorizationHeaderMalformed"};
  return status() == 401 ||
         std::find(std::begin(kCodes), std::end(kCodes), code()) != std::end(kCodes);
}

std::shared_ptr<S3Connection> make_s3_connection(S3ClientOptions options) {
  return std::make_shared<RestS3Connection>(std::move(options));
}

}  // namespace clients::aws
