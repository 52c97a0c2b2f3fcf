#include "cli/credentials.hpp"

#include <cstdlib>

#include "cli/exit_status.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_cli::credentials {

std::string require_env(std::initializer_list<const char*> names, const std::string& needed_for) {
  std::string listed;
  for (const char* name : names) {
    if (const char* value = std::getenv(name); value != nullptr && *value != '\0') {
      // Services echo keys in their error texts; no line the command writes shows one.
      qorl_core::redaction::register_secret(value);
      return value;
    }
    listed += listed.empty() ? name : std::string(" or ") + name;
  }
  throw UsageError(listed + " is not set (needed for " + needed_for + ")");
}

void require_model_key(const std::string& model_id, const std::string& needed_for) {
  const std::string provider = model_id.substr(0, model_id.find('/'));
  if (provider == "google") require_env({"GEMINI_API_KEY", "GOOGLE_API_KEY"}, needed_for);
  if (provider == "openai") require_env({"OPENAI_API_KEY"}, needed_for);
}

}  // namespace qorl_cli::credentials
