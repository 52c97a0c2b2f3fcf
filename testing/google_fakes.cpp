#include "testing/google_fakes.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace qorl_testing {
namespace {

std::string base64url_decode(std::string text) {
  for (char& c : text) {
    if (c == '-') c = '+';
    if (c == '_') c = '/';
  }
  const std::size_t padding = (4 - text.size() % 4) % 4;
  text.append(padding, '=');
  std::string out(text.size() / 4 * 3, '\0');
  const int size = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                   reinterpret_cast<const unsigned char*>(text.data()),
                                   static_cast<int>(text.size()));
  if (size < 0) return {};
  out.resize(static_cast<std::size_t>(size) - padding);
  return out;
}

EVP_PKEY* pkey(const std::shared_ptr<void>& key) { return static_cast<EVP_PKEY*>(key.get()); }

}  // namespace

void send_google_error(httplib::Response& response, int status, const std::string& message) {
  static const std::map<int, std::string> names = {
      {400, "INVALID_ARGUMENT"}, {401, "UNAUTHENTICATED"},    {403, "PERMISSION_DENIED"},
      {404, "NOT_FOUND"},        {429, "RESOURCE_EXHAUSTED"}, {500, "INTERNAL"},
      {503, "UNAVAILABLE"}};
  nlohmann::json error = {{"code", status}, {"message", message}};
  if (const auto name = names.find(status); name != names.end()) error["status"] = name->second;
  response.status = status;
  response.set_content(nlohmann::json{{"error", error}}.dump(), "application/json");
}

ServiceAccount::ServiceAccount(std::string token_uri) : token_uri_(std::move(token_uri)) {
  static std::atomic<int> serial{0};
  client_email_ = "svc-" + std::to_string(++serial) + "@qorl-test.iam.gserviceaccount.com";
  key_ = std::shared_ptr<void>(EVP_RSA_gen(2048),
                               [](void* k) { EVP_PKEY_free(static_cast<EVP_PKEY*>(k)); });
  if (!key_) throw std::runtime_error("cannot generate an RSA key");
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_PrivateKey(bio.get(), pkey(key_), nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  private_pem_.assign(data, static_cast<std::size_t>(size));
}

std::string ServiceAccount::key_json() const {
  return nlohmann::json{{"type", "service_account"},     {"project_id", "qorl-test"},
                        {"private_key_id", "key-1"},     {"private_key", private_pem_},
                        {"client_email", client_email_}, {"client_id", "1"},
                        {"token_uri", token_uri_}}
      .dump();
}

std::optional<nlohmann::json> ServiceAccount::verify_assertion(const std::string& jwt) const {
  const auto first = jwt.find('.');
  const auto second = jwt.find('.', first == std::string::npos ? first : first + 1);
  if (second == std::string::npos) return std::nullopt;
  const auto header = nlohmann::json::parse(base64url_decode(jwt.substr(0, first)), nullptr, false);
  if (!header.is_object() || header.value("alg", "") != "RS256") return std::nullopt;
  const std::string signed_part = jwt.substr(0, second);
  const std::string signature = base64url_decode(jwt.substr(second + 1));

  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, pkey(key_)) != 1 ||
      EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                       signature.size(), reinterpret_cast<const unsigned char*>(signed_part.data()),
                       signed_part.size()) != 1) {
    return std::nullopt;
  }
  auto claims = nlohmann::json::parse(base64url_decode(jwt.substr(first + 1, second - first - 1)),
                                      nullptr, false);
  if (!claims.is_object()) return std::nullopt;
  return claims;
}

FakeGoogle::FakeGoogle() {
  auto& http = server_.server();
  http.Get("/uc", [this](const httplib::Request& q, httplib::Response& r) { serve_uc(q, r); });
  http.Get("/ServiceLogin", [](const httplib::Request&, httplib::Response& r) {
    r.set_content(
        "<html><head><title>Google Drive: Sign-in</title></head><body>"
        "<form id=\"gaia_loginform\" action=\"https://accounts.google.com/ServiceLogin\">"
        "Sign in to continue to Google Drive</form></body></html>",
        "text/html; charset=utf-8");
  });
  http.Post("/token",
            [this](const httplib::Request& q, httplib::Response& r) { serve_token(q, r); });
  http.Get(R"(/drive/v3/files/([^/]+))",
           [this](const httplib::Request& q, httplib::Response& r) { serve_media(q, r); });
  server_.start();
  account_.emplace(server_.url("/token"));
}

FakeGoogle::~FakeGoogle() {
  stopping_ = true;
  server_.stop();
}

void FakeGoogle::add_file(const std::string& id, const std::string& content, Web web) {
  std::lock_guard lock(mutex_);
  files_[id] = File{content, web};
}

std::vector<std::string> FakeGoogle::media_ranges() const {
  std::lock_guard lock(mutex_);
  return media_ranges_;
}

std::string FakeGoogle::warning_page(int serial) {
  return "<html><head><title>Google Drive - Virus scan warning</title></head><body>"
         "Google Drive can't scan this file for viruses. (" +
         std::to_string(serial) + ")</body></html>";
}

void FakeGoogle::serve_uc(const httplib::Request& request, httplib::Response& response) {
  const int serial = ++uc_requests_;
  if (request.get_param_value("export") != "download") {
    return send_google_error(response, 400, "bad export");
  }
  const std::string id = request.get_param_value("id");
  std::unique_lock lock(mutex_);
  const auto found = files_.find(id);
  if (found == files_.end()) {
    response.status = 404;
    response.set_content("<html><body>Not Found</body></html>", "text/html");
    return;
  }
  const File file = found->second;
  lock.unlock();

  const std::string confirm = request.get_param_value("confirm");
  const auto warn = [&] {
    response.set_header("Set-Cookie", "NID=511=abc; Path=/; HttpOnly");
    response.set_header("Set-Cookie", "download_warning_13058876669334088843_" + id + "=tok" +
                                          std::to_string(serial) + "; Path=/");
    response.set_content(warning_page(serial), "text/html; charset=utf-8");
  };
  switch (file.web) {
    case Web::PUBLIC: return response.set_content(file.content, "application/octet-stream");
    case Web::LARGE:
      if (confirm.starts_with("tok"))
        return response.set_content(file.content, "application/octet-stream");
      return warn();
    case Web::ALWAYS_WARNING: return warn();
    case Web::SIGN_IN: return response.set_redirect("/ServiceLogin?continue=uc");
    case Web::STALL:
      response.set_content_provider(
          file.content.size() + 1000, "application/octet-stream",
          [this, content = file.content](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset == 0) return sink.write(content.data(), content.size());
            // Hold the connection open, sending nothing, until the client gives up.
            for (int i = 0; i < 3000 && !stopping_ && sink.is_writable(); ++i) {
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return false;
          });
      return;
  }
}

void FakeGoogle::serve_token(const httplib::Request& request, httplib::Response& response) {
  ++token_requests_;
  const auto grant_error = [&](const std::string& description) {
    response.status = 400;
    response.set_content(
        nlohmann::json{{"error", "invalid_grant"}, {"error_description", description}}.dump(),
        "application/json");
  };
  if (request.get_header_value("Content-Type") != "application/x-www-form-urlencoded" ||
      request.get_param_value("grant_type") != "urn:ietf:params:oauth:grant-type:jwt-bearer") {
    response.status = 400;
    return response.set_content(R"({"error": "unsupported_grant_type"})", "application/json");
  }
  const auto claims = account_->verify_assertion(request.get_param_value("assertion"));
  if (!claims) return grant_error("Invalid JWT Signature.");
  if (claims->value("aud", "") != account_->token_uri() ||
      claims->value("iss", "") != account_->client_email() ||
      claims->value("exp", 0L) - claims->value("iat", 0L) > 3600) {
    return grant_error("Invalid JWT: claims");
  }
  const std::string token = "ya29.fake-" + std::to_string(token_requests_.load());
  {
    std::lock_guard lock(mutex_);
    tokens_.insert(token + "|" + claims->value("scope", ""));
  }
  response.set_content(
      nlohmann::json{
          {"access_token", token}, {"expires_in", token_lifetime_.load()}, {"token_type", "Bearer"}}
          .dump(),
      "application/json");
}

bool FakeGoogle::authorizes(const std::string& authorization, const std::string& scope) const {
  std::lock_guard lock(mutex_);
  return authorized(authorization, scope);
}

bool FakeGoogle::authorized(const std::string& authorization, const std::string& scope) const {
  if (!authorization.starts_with("Bearer ")) return false;
  const std::string prefix = authorization.substr(7) + "|";
  for (auto it = tokens_.lower_bound(prefix); it != tokens_.end() && it->starts_with(prefix);
       ++it) {
    std::istringstream scopes(it->substr(prefix.size()));
    for (std::string granted; scopes >> granted;) {
      if (granted == scope) return true;
    }
  }
  return false;
}

void FakeGoogle::serve_media(const httplib::Request& request, httplib::Response& response) {
  const std::string id = request.matches[1];
  std::lock_guard lock(mutex_);
  media_ranges_.push_back(request.get_header_value("Range"));
  if (!authorized(request.get_header_value("Authorization"),
                  "https://www.googleapis.com/auth/drive.readonly")) {
    return send_google_error(response, 401, "Request had invalid authentication credentials.");
  }
  if (request.get_param_value("alt") != "media")
    return send_google_error(response, 400, "alt=media only");
  const auto found = files_.find(id);
  if (found == files_.end()) return send_google_error(response, 404, "File not found: " + id + ".");
  // The server library answers a Range request with 206 and Content-Range itself.
  response.set_content(found->second.content, "application/octet-stream");
}

}  // namespace qorl_testing
