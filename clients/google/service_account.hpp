// Google service-account keys (the JSON key files) and the RS256-signed JWT assertion they
// make for the OAuth2 JWT-bearer grant.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "clients/google/errors.hpp"

namespace clients::google {

struct ServiceAccountKey {
  std::string client_email;
  std::string private_key;  // PEM
  std::string private_key_id;
  std::string token_uri;
  std::string project_id;

  // Throws Error for a text that is not a service-account key.
  static ServiceAccountKey from_json(std::string_view content);
  static ServiceAccountKey from_file(const std::string& path);
};

inline constexpr auto ASSERTION_LIFETIME = std::chrono::hours(1);

// header.claims.signature, each base64url without padding; the claims grant `scopes` for
// one hour from `now` and are addressed to the key's token_uri.
std::string make_jwt_assertion(const ServiceAccountKey& key, const std::vector<std::string>& scopes,
                               std::chrono::system_clock::time_point now);

}  // namespace clients::google
