// Checks that the keys a command needs are in the environment, before any work starts.
#pragma once

#include <initializer_list>
#include <string>

namespace qorl_cli::credentials {

// The value of the first of `names` that is set and not empty; UsageError naming all of them
// and `needed_for` otherwise. The value is never part of a message.
std::string require_env(std::initializer_list<const char*> names, const std::string& needed_for);

// The path in the environment variable `name` of a service-account key file the command can sign
// with, checked before any work: UsageError naming the variable, the file and what is wrong with
// it otherwise (never the key itself).
std::string require_service_account_key(const char* name, const std::string& needed_for);

// The key of the provider of a "<provider>/<model>" id (google: GEMINI_API_KEY or
// GOOGLE_API_KEY, openai: OPENAI_API_KEY); other ids are left to the library to refuse.
void require_model_key(const std::string& model_id, const std::string& needed_for);

}  // namespace qorl_cli::credentials
