#include "qorl_inference/builder.hpp"

#include <set>

#include "qorl_core/errors.hpp"
#include "qorl_inference/google_lm_invoker.hpp"
#include "qorl_inference/openai_lm_invoker.hpp"

namespace qorl_inference {
namespace {

// Typed reads of the named options, each rejecting values of the wrong kind.
class OptionReader {
 public:
  OptionReader(const qorl_core::Options& options, std::set<std::string> known) : options_(options) {
    for (const auto& name : options.keys()) {
      if (!known.count(name)) {
        throw qorl_core::TypeError("build_lm_invoker got an unexpected option " +
                                   qorl_core::repr(name));
      }
    }
  }

  std::string text(const char* name) const {
    const auto* value = present(name);
    if (!value) return {};
    if (!value->is_string()) fail(name, "text", *value);
    return value->as_string();
  }

  std::optional<std::int64_t> integer(const char* name) const {
    const auto* value = present(name);
    if (!value) return std::nullopt;
    if (!value->is_int()) fail(name, "an integer", *value);
    return value->as_int();
  }

  std::optional<double> number(const char* name) const {
    const auto* value = present(name);
    if (!value) return std::nullopt;
    if (!value->is_number()) fail(name, "a number", *value);
    return value->as_double();
  }

  std::shared_ptr<ResponseSchema> response_schema() const {
    const auto* value = present("response_schema");
    if (!value) return nullptr;
    auto schema = value->object_as<ResponseSchema>();
    if (!schema) fail("response_schema", "a ResponseSchema", *value);
    return schema;
  }

  qorl_core::RetryConfig retry_config() const {
    qorl_core::RetryConfig config;
    if (auto retries = integer("max_retries")) config.max_retries = static_cast<int>(*retries);
    if (auto timeout = number("timeout")) config.timeout = *timeout;
    if (config.max_retries < 0) throw qorl_core::ValueError("max_retries must not be negative");
    if (config.timeout < 0) throw qorl_core::ValueError("timeout must not be negative");
    return config;
  }

 private:
  // The option's value, or nullptr when it is absent or none.
  const qorl_core::Value* present(const char* name) const {
    const auto* value = options_.find(name);
    return value && !value->is_none() ? value : nullptr;
  }

  [[noreturn]] static void fail(const char* name, const char* kind, const qorl_core::Value& value) {
    throw qorl_core::TypeError(std::string("build_lm_invoker option '") + name + "' must be " +
                               kind + ", not " + value.type_name());
  }

  const qorl_core::Options& options_;
};

const std::set<std::string> kCommonOptions{"api_key", "base_url", "response_schema", "max_retries",
                                           "timeout"};

std::shared_ptr<BaseLMInvoker> build_google(const std::string& model,
                                            const qorl_core::Options& options) {
  auto known = kCommonOptions;
  known.insert("inline_data_limit");
  OptionReader reader(options, known);
  GoogleLMInvokerOptions settings;
  settings.model_name = model;
  settings.api_key = reader.text("api_key");
  settings.base_url = reader.text("base_url");
  settings.response_schema = reader.response_schema();
  settings.retry_config = reader.retry_config();
  if (auto limit = reader.integer("inline_data_limit")) {
    if (*limit < 0) throw qorl_core::ValueError("inline_data_limit must not be negative");
    settings.inline_data_limit = static_cast<std::size_t>(*limit);
  }
  return std::make_shared<GoogleLMInvoker>(std::move(settings));
}

std::shared_ptr<BaseLMInvoker> build_openai(const std::string& model,
                                            const qorl_core::Options& options) {
  OptionReader reader(options, kCommonOptions);
  OpenAILMInvokerOptions settings;
  settings.model_name = model;
  settings.api_key = reader.text("api_key");
  settings.base_url = reader.text("base_url");
  settings.response_schema = reader.response_schema();
  settings.retry_config = reader.retry_config();
  return std::make_shared<OpenAILMInvoker>(std::move(settings));
}

}  // namespace

std::shared_ptr<BaseLMInvoker> build_lm_invoker(const std::string& model_id,
                                                const qorl_core::Options& options) {
  if (options.contains("model_id")) {
    throw qorl_core::TypeError("build_lm_invoker got multiple values for option 'model_id'");
  }
  const auto slash = model_id.find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == model_id.size()) {
    throw qorl_core::ValueError("Invalid model id " + qorl_core::repr(model_id) +
                                ": expected '<provider>/<model>'");
  }
  const std::string provider = model_id.substr(0, slash);
  const std::string model = model_id.substr(slash + 1);
  if (provider == "google") return build_google(model, options);
  if (provider == "openai") return build_openai(model, options);
  throw qorl_core::ValueError("Unsupported LM provider " + qorl_core::repr(provider) +
                              " in model id " + qorl_core::repr(model_id) +
                              "; supported providers: google, openai");
}

std::shared_ptr<BaseLMInvoker> build_lm_invoker(const qorl_core::Options& options) {
  const auto* model_id = options.find("model_id");
  if (!model_id) throw qorl_core::TypeError("build_lm_invoker needs the option 'model_id'");
  if (!model_id->is_string()) {
    throw qorl_core::TypeError("build_lm_invoker option 'model_id' must be text, not " +
                               model_id->type_name());
  }
  qorl_core::Options rest = options;
  rest.erase("model_id");
  return build_lm_invoker(model_id->as_string(), rest);
}

}  // namespace qorl_inference
