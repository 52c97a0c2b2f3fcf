#include "clients/aws/sigv4.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <stdexcept>

#include "clients/common/secret_text.hpp"
#include "clients/common/text.hpp"
#include "clients/http/http.hpp"

namespace clients::aws {
namespace {

constexpr std::string_view ALGORITHM = "AWS4-HMAC-SHA256";

std::string hmac_sha256(std::string_view key, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
            reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &size)) {
    throw std::runtime_error("HMAC-SHA256 failed");
  }
  return std::string(reinterpret_cast<const char*>(out), size);
}

// Leading and trailing blanks removed, inner runs of blanks folded to one space.
std::string trim_value(std::string_view value) {
  std::string out;
  bool blank = false;
  for (char c : value) {
    if (c == ' ' || c == '\t') {
      blank = !out.empty();
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  return out;
}

// Header name -> comma-joined values, sorted by name.
std::map<std::string, std::string> canonical_headers(const SignableRequest& request) {
  std::map<std::string, std::string> headers;
  for (const auto& [name, value] : request.headers) {
    auto [it, inserted] = headers.try_emplace(common::ascii_lower(name), trim_value(value));
    if (!inserted) it->second += "," + trim_value(value);
  }
  return headers;
}

std::string signed_header_names(const std::map<std::string, std::string>& headers) {
  std::string names;
  for (const auto& [name, value] : headers) {
    if (!names.empty()) names += ';';
    names += name;
  }
  return names;
}

std::string date_stamp(std::chrono::system_clock::time_point when) {
  return amz_date(when).substr(0, 8);
}

std::string credential_scope(const SigningScope& scope,
                             std::chrono::system_clock::time_point when) {
  return date_stamp(when) + "/" + scope.region + "/" + scope.service + "/aws4_request";
}

}  // namespace

std::string sha256_hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr)) {
    throw std::runtime_error("SHA-256 failed");
  }
  return common::hex(std::string_view(reinterpret_cast<const char*>(digest), size));
}

std::string amz_date(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[17];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

std::string encode_query(const std::vector<std::pair<std::string, std::string>>& query) {
  std::string out;
  for (const auto& [name, value] : query) {
    if (!out.empty()) out += '&';
    out += http::url_encode(name) + "=" + http::url_encode(value);
  }
  return out;
}

std::string canonical_request(const SignableRequest& request) {
  std::vector<std::pair<std::string, std::string>> query;
  for (const auto& [name, value] : request.query) {
    query.emplace_back(http::url_encode(name), http::url_encode(value));
  }
  std::sort(query.begin(), query.end());
  std::string canonical_query;
  for (const auto& [name, value] : query) {
    if (!canonical_query.empty()) canonical_query += '&';
    canonical_query += name + "=" + value;
  }

  const auto headers = canonical_headers(request);
  std::string header_block;
  for (const auto& [name, value] : headers) header_block += name + ":" + value + "\n";

  return request.method + "\n" + request.path + "\n" + canonical_query + "\n" + header_block +
         "\n" + signed_header_names(headers) + "\n" + request.payload_hash;
}

std::string string_to_sign(const SignableRequest& request, const SigningScope& scope,
                           std::chrono::system_clock::time_point when) {
  return std::string(ALGORITHM) + "\n" + amz_date(when) + "\n" + credential_scope(scope, when) +
         "\n" + sha256_hex(canonical_request(request));
}

std::string signature(const SignableRequest& request, const Credentials& credentials,
                      const SigningScope& scope, std::chrono::system_clock::time_point when) {
  std::string key = hmac_sha256("AWS4" + credentials.secret_access_key, date_stamp(when));
  key = hmac_sha256(key, scope.region);
  key = hmac_sha256(key, scope.service);
  key = hmac_sha256(key, "aws4_request");
  const std::string mac = hmac_sha256(key, string_to_sign(request, scope, when));
  return common::hex(mac);
}

void sign(SignableRequest& request, const Credentials& credentials, const SigningScope& scope,
          std::chrono::system_clock::time_point when) {
  common::check_credential(credentials.access_key_id, "The AWS access key id");
  common::check_credential(credentials.secret_access_key, "The AWS secret access key");
  common::check_credential(credentials.session_token, "The AWS session token");
  request.headers.emplace_back("x-amz-date", amz_date(when));
  if (!credentials.session_token.empty()) {
    request.headers.emplace_back("x-amz-security-token", credentials.session_token);
  }
  const std::string authorization =
      std::string(ALGORITHM) + " Credential=" + credentials.access_key_id + "/" +
      credential_scope(scope, when) +
      ", SignedHeaders=" + signed_header_names(canonical_headers(request)) +
      ", Signature=" + signature(request, credentials, scope, when);
  request.headers.emplace_back("authorization", authorization);
}

}  // namespace clients::aws
