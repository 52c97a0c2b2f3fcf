// Google's side of service-account auth and Drive downloads, on loopback: a service account
// with a fresh RSA key, a JWT-bearer token endpoint that verifies assertions, the Drive web
// download (/uc, warning cookies, sign-in redirects) and the Drive API v3 media download.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "testing/http_server.hpp"

namespace qorl_testing {

// Google's JSON error answer: {"error": {"code": <status>, "message": ..., "status": <its name>}}.
void send_google_error(httplib::Response& response, int status, const std::string& message);

class ServiceAccount {
 public:
  // A new 2048-bit RSA key whose key file names `token_uri`.
  explicit ServiceAccount(std::string token_uri);

  const std::string& client_email() const noexcept { return client_email_; }
  const std::string& token_uri() const noexcept { return token_uri_; }
  // The JSON key file content.
  std::string key_json() const;
  // The claims of `jwt` when it is an RS256 JWT signed by this key; none otherwise.
  std::optional<nlohmann::json> verify_assertion(const std::string& jwt) const;

 private:
  std::string token_uri_;
  std::string client_email_;
  std::string private_pem_;
  std::shared_ptr<void> key_;  // EVP_PKEY
};

class FakeGoogle {
 public:
  // How the web download (/uc) answers for a file.
  enum class Web {
    PUBLIC,          // the bytes at once
    LARGE,           // a warning page with a download_warning cookie, the bytes after confirm
    ALWAYS_WARNING,  // a warning page with a fresh cookie on every request
    SIGN_IN,         // a redirect to a sign-in page
    STALL,           // headers and a few bytes, then silence
  };

  FakeGoogle();
  ~FakeGoogle();

  // Base URL for QORL_GDRIVE_BASE_URL and QORL_GOOGLEAPIS_BASE_URL.
  std::string base_url() const { return server_.url(); }
  const ServiceAccount& account() const noexcept { return *account_; }

  void add_file(const std::string& id, const std::string& content, Web web);
  void set_token_lifetime(int seconds) { token_lifetime_ = seconds; }

  // Whether an Authorization header carries a bearer token this server issued for `scope`.
  bool authorizes(const std::string& authorization, const std::string& scope) const;

  int uc_requests() const { return uc_requests_; }
  int token_requests() const { return token_requests_; }
  // The Range header of every API media request, in order.
  std::vector<std::string> media_ranges() const;
  static std::string warning_page(int serial);

 private:
  struct File {
    std::string content;
    Web web;
  };
  void serve_uc(const httplib::Request& request, httplib::Response& response);
  void serve_token(const httplib::Request& request, httplib::Response& response);
  void serve_media(const httplib::Request& request, httplib::Response& response);
  bool authorized(const std::string& authorization, const std::string& scope) const;  // mutex held

  std::optional<ServiceAccount> account_;  // its token_uri needs the server's port
  mutable std::mutex mutex_;
  std::map<std::string, File> files_;
  std::set<std::string> tokens_;
  std::vector<std::string> media_ranges_;
  std::atomic<int> uc_requests_{0};
  std::atomic<int> token_requests_{0};
  std::atomic<int> token_lifetime_{3600};
  std::atomic<bool> stopping_{false};
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
