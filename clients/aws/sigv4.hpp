// AWS Signature Version 4 (header form) on OpenSSL: canonical request, string to sign,
// signing key and the Authorization header.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clients/aws/credentials.hpp"
#include "clients/common/url.hpp"

namespace clients::aws {

// The parts of an HTTP request that the signature covers.
struct SignableRequest {
  std::string method = "GET";
  // The path exactly as sent on the wire (already percent-encoded), starting with "/".
  std::string path = "/";
  // Query parameters, not encoded; encoded and sorted for signing.
  std::vector<std::pair<std::string, std::string>> query;
  // Every header listed here is signed; "host" must be among them.
  std::vector<std::pair<std::string, std::string>> headers;
  // Hex SHA-256 of the body, as sent in x-amz-content-sha256.
  std::string payload_hash;
};

struct SigningScope {
  std::string region;
  std::string service;
};

// Lower-case hex SHA-256 of `data`.
std::string sha256_hex(std::string_view data);

// The hex SHA-256 of an empty body.
inline constexpr std::string_view EMPTY_PAYLOAD_HASH =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// "20250101T000000Z"
std::string amz_date(std::chrono::system_clock::time_point when);

std::string canonical_request(const SignableRequest& request);

std::string string_to_sign(const SignableRequest& request, const SigningScope& scope,
                           std::chrono::system_clock::time_point when);

// Hex HMAC-SHA256 signature of the request with the credentials' secret.
std::string signature(const SignableRequest& request, const Credentials& credentials,
                      const SigningScope& scope, std::chrono::system_clock::time_point when);

// Adds x-amz-date, x-amz-security-token (with a session token) and authorization to the
// request's headers; the first two are signed. Throws common::InvalidCredential when a key or the
// token holds a control character.
void sign(SignableRequest& request, const Credentials& credentials, const SigningScope& scope,
          std::chrono::system_clock::time_point when);

// The query string as sent: parameters percent-encoded, in the given order.
std::string encode_query(const std::vector<std::pair<std::string, std::string>>& query);

// An S3 key as a URL path.
using common::encode_path;

}  // namespace clients::aws
