#include "clients/google/service_account.hpp"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "clients/common/base64.hpp"
#include "clients/common/files.hpp"
#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"

namespace clients::google {
namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct BioDeleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

std::unique_ptr<EVP_PKEY, PkeyDeleter> load_private_key(const std::string& pem) {
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) throw Error("cannot read the service account private key");
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  if (!key) throw Error("the service account private key is not a PEM private key");
  return key;
}

std::string sign_rs256(const std::string& pem, std::string_view data) {
  const auto key = load_private_key(pem);
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> ctx(EVP_MD_CTX_new());
  std::size_t size = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(data.data()),
                     data.size()) != 1) {
    throw Error("cannot sign with the service account private key");
  }
  std::string signature(size, '\0');
  if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1) {
    throw Error("cannot sign with the service account private key");
  }
  signature.resize(size);
  return signature;
}

}  // namespace

ServiceAccountKey ServiceAccountKey::from_json(std::string_view content) {
  const auto info = common::parse_json_or_discarded(content, "Service account info");
  if (!info.is_object()) throw Error("Service account info is not a JSON object");
  const auto text = [&](const char* name) { return common::field_or<std::string>(info, name); };
  ServiceAccountKey key{text("client_email"), text("private_key"), text("private_key_id"),
                        text("token_uri"), text("project_id")};
  std::string missing;
  for (const auto& [name, value] :
       {std::pair{"client_email", &key.client_email}, std::pair{"private_key", &key.private_key},
        std::pair{"token_uri", &key.token_uri}}) {
    if (value->empty()) missing += (missing.empty() ? "" : ", ") + std::string(name);
  }
  if (!missing.empty()) {
    throw Error("Service account info was not in the expected format, missing fields " + missing +
                ".");
  }
  return key;
}

ServiceAccountKey ServiceAccountKey::from_file(const std::string& path) {
  std::string content;
  try {
    content = common::read_regular_file(path, common::MAX_CREDENTIALS_FILE_BYTES);
  } catch (const std::system_error& error) {
    if (error.code() == std::errc::no_such_file_or_directory) {
      throw Error("File " + path + " was not found.");
    }
    throw Error("Cannot read the service account key file: " + std::string(error.what()));
  } catch (const std::runtime_error& error) {
    throw Error("Cannot read the service account key file: " + std::string(error.what()));
  }
  return from_json(content);
}

std::string make_jwt_assertion(const ServiceAccountKey& key, const std::vector<std::string>& scopes,
                               std::chrono::system_clock::time_point now) {
  nlohmann::ordered_json header = {{"alg", "RS256"}, {"typ", "JWT"}};
  if (!key.private_key_id.empty()) header["kid"] = key.private_key_id;

  std::string scope;
  for (const auto& s : scopes) scope += (scope.empty() ? "" : " ") + s;
  const auto issued = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch());
  const nlohmann::ordered_json claims = {
      {"iss", key.client_email},
      {"scope", scope},
      {"aud", key.token_uri},
      {"iat", issued.count()},
      {"exp", (issued + ASSERTION_LIFETIME).count()},
  };

  const std::string signing_input =
      common::base64url_encode(header.dump()) + "." + common::base64url_encode(claims.dump());
  return signing_input + "." + common::base64url_encode(sign_rs256(key.private_key, signing_input));
}

}  // namespace clients::google
