#include "clients/aws/sigv4.hpp"

#include <gtest/gtest.h>

#include "clients/common/secret_text.hpp"

namespace clients::aws {
namespace {

// Vectors made by the official JavaScript SDK's signer at a fixed date (testdata/sigv4_vectors).
const Credentials KEYS{"AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY", "", std::nullopt};
const SigningScope SCOPE{"us-east-1", "s3"};
const auto DATE = std::chrono::system_clock::from_time_t(1735689600);  // 2025-01-01T00:00:00Z

SignableRequest get_object_request() {
  SignableRequest request;
  request.path = "/my-bucket/dir/photo.png";
  request.query = {{"x-id", "GetObject"}};
  request.headers = {{"host", "127.0.0.1:9000"},
                     {"x-amz-content-sha256", std::string(EMPTY_PAYLOAD_HASH)}};
  request.payload_hash = std::string(EMPTY_PAYLOAD_HASH);
  return request;
}

std::string header(const SignableRequest& request, const std::string& name) {
  for (const auto& [n, v] : request.headers) {
    if (n == name) return v;
  }
  return "<absent>";
}

TEST(SigV4Test, PathStyleGetObjectMatchesTheReferenceSigner) {
  EXPECT_EQ(sha256_hex(""), EMPTY_PAYLOAD_HASH);
  SignableRequest dated = get_object_request();
  dated.headers.emplace_back("x-amz-date", amz_date(DATE));
  EXPECT_EQ(
      canonical_request(dated),
      "GET\n/my-bucket/dir/photo.png\nx-id=GetObject\nhost:127.0.0.1:9000\n"
      "x-amz-content-sha256:e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n"
      "x-amz-date:20250101T000000Z\n\nhost;x-amz-content-sha256;x-amz-date\n"
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(string_to_sign(dated, SCOPE, DATE),
            "AWS4-HMAC-SHA256\n20250101T000000Z\n20250101/us-east-1/s3/aws4_request\n"
            "ecebe79a1a1e1adb2cad5fd2457dead8f5560948581f428e3870902d99f5385d");

  SignableRequest request = get_object_request();
  sign(request, KEYS, SCOPE, DATE);
  EXPECT_EQ(header(request, "x-amz-date"), "20250101T000000Z");
  EXPECT_EQ(header(request, "x-amz-security-token"), "<absent>");
  EXPECT_EQ(header(request, "authorization"),
            "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20250101/us-east-1/s3/aws4_request, "
            "SignedHeaders=host;x-amz-content-sha256;x-amz-date, "
            "Signature=cd8a9a189efa0cb900d01384b492ff99e1f333fdbcb47209541df8fc6d72cdee");
}

TEST(SigV4Test, SessionTokenIsSentAndSigned) {
  SignableRequest request = get_object_request();
  Credentials keys = KEYS;
  keys.session_token = "TOKEN";
  SignableRequest dated = request;
  dated.headers.emplace_back("x-amz-date", amz_date(DATE));
  dated.headers.emplace_back("x-amz-security-token", "TOKEN");
  EXPECT_EQ(sha256_hex(canonical_request(dated)),
            "a00cfc3819705fb195023c79d9172094f200f98d24033658d9d71a10e4811f6d");
  sign(request, keys, SCOPE, DATE);
  EXPECT_EQ(header(request, "x-amz-security-token"), "TOKEN");
  EXPECT_EQ(header(request, "authorization"),
            "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20250101/us-east-1/s3/aws4_request, "
            "SignedHeaders=host;x-amz-content-sha256;x-amz-date;x-amz-security-token, "
            "Signature=53e68004c498def542e3f4b08870830deec91be0ea1ef2522a6f5fd6a617afcc");
}

TEST(SigV4Test, CanonicalFormsEncodeSortAndFold) {
  EXPECT_EQ(encode_path("/b/dir name/ü+&=.png"), "/b/dir%20name/%C3%BC%2B%26%3D.png");
  EXPECT_EQ(encode_query({{"b", "x y"}, {"a", "1/2"}}), "b=x%20y&a=1%2F2");

  SignableRequest request;
  request.query = {{"b", "2"}, {"a", "z"}, {"a", "y"}, {"c d", ""}};
  request.headers = {{"Host", "h"}, {"X-Amz-Meta", "  a   b  "}, {"x-amz-meta", "c"}};
  request.payload_hash = "UNSIGNED-PAYLOAD";
  EXPECT_EQ(canonical_request(request),
            "GET\n/\na=y&a=z&b=2&c%20d=\nhost:h\nx-amz-meta:a b,c\n\nhost;x-amz-meta\n"
            "UNSIGNED-PAYLOAD");
}

TEST(HostileCredentials, KeysAndTokensThatCouldSplitHeadersAreNotSigned) {
  for (Credentials keys : {Credentials{"AKID\r\nX-Injected: 1", "secret", "", std::nullopt},
                           Credentials{"AKID", "secret", "TOKEN\nX-Injected: 1", std::nullopt},
                           Credentials{"AKID", "sec\rret", "", std::nullopt}}) {
    SignableRequest request;
    request.headers = {{"host", "h"}};
    request.payload_hash = "UNSIGNED-PAYLOAD";
    EXPECT_THROW(sign(request, keys, SCOPE, DATE), common::InvalidCredential);
    EXPECT_EQ(request.headers.size(), 1u);
  }
}

}  // namespace
}  // namespace clients::aws
