#include "cli/credentials.hpp"

#include <chrono>
#include <cstdlib>

#include "cli/exit_status.hpp"
#include "clients/google/service_account.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_cli::credentials {

namespace {

// The value of the first of `names` that is set and not empty.
std::string first_set(std::initializer_list<const char*> names, const std::string& needed_for) {
  std::string listed;
  for (const char* name : names) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') return value;
    listed += listed.empty() ? name : std::string(" or ") + name;
  }
  throw UsageError(listed + " is not set (needed for " + needed_for + ")");
}

}  // namespace

std::string require_env(std::initializer_list<const char*> names, const std::string& needed_for) {
  std::string value = first_set(names, needed_for);
  // Services echo keys in their error texts; no line the command writes shows one.
  qorl_core::redaction::register_secret(value);
  return value;
}

std::string require_service_account_key(const char* name, const std::string& needed_for) {
  // A path, not a secret: it may be named.
  const std::string path = first_set({name}, needed_for);
  try {
    // Signing an assertion is the whole use of the key before any request.
    clients::google::make_jwt_assertion(clients::google::ServiceAccountKey::from_file(path), {},
                                        std::chrono::system_clock::now());
  } catch (const clients::google::Error& e) {
    const std::string reason = e.what();
    throw UsageError(std::string(name) + ": " +
                     (reason.find(path) == std::string::npos ? path + ": " + reason : reason));
  }
  return path;
}

void require_model_key(const std::string& model_id, const std::string& needed_for) {
  const std::string provider = model_id.substr(0, model_id.find('/'));
  if (provider == "google") require_env({"GEMINI_API_KEY", "GOOGLE_API_KEY"}, needed_for);
  if (provider == "openai") require_env({"OPENAI_API_KEY"}, needed_for);
}

}  // namespace qorl_cli::credentials
