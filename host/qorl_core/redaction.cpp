#include "qorl_core/redaction.hpp"

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>

#include "qorl_core/text.hpp"

namespace qorl_core::redaction {
namespace {

constexpr std::string_view kRedacted = "REDACTED";
// Longer base64 runs are payloads (audio, images), never worth a log line; sources logged cut
// to 512 characters stay as they are.
constexpr std::size_t kLongestBase64Run = 1024;

bool is_secret_parameter(std::string_view encoded_name) {
  const std::string name = ascii_lower(encoded_name);
  static constexpr std::array<std::string_view, 7> kParts = {
      "signature", "token", "credential", "secret", "password", "apikey", "api_key"};
  if (name == "sig" || name == "key" || name == "auth") return true;
  return std::any_of(kParts.begin(), kParts.end(),
                     [&](std::string_view part) { return name.find(part) != std::string::npos; });
}

bool is_base64_character(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=' ||
         c == '-' || c == '_';
}

struct Registry {
  std::mutex mutex;
  std::vector<std::string> secrets;

  static Registry& instance() {
    static Registry registry;
    return registry;
  }
};

std::string shorten_base64_runs(std::string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    if (!is_base64_character(text[start])) {
      out += text[start++];
      continue;
    }
    std::size_t end = start;
    while (end < text.size() && is_base64_character(text[end])) ++end;
    if (end - start > kLongestBase64Run) {
      out += "<" + std::to_string(end - start) + " base64 characters>";
    } else {
      out += text.substr(start, end - start);
    }
    start = end;
  }
  return out;
}

}  // namespace

std::string redact_url(std::string_view text) {
  const auto parsed = boost::urls::parse_absolute_uri(text);
  if (!parsed) return std::string(text);
  boost::urls::url url(*parsed);
  bool changed = false;
  if (url.has_password()) {
    url.set_password(kRedacted);
    changed = true;
  } else if (url.has_userinfo() && !url.encoded_user().empty()) {
    // A user part alone is how tokens are often given ("https://TOKEN@host").
    url.set_user(kRedacted);
    changed = true;
  }
  if (url.has_query()) {
    std::string query;
    for (const auto& param : url.encoded_params()) {
      if (!query.empty()) query += '&';
      query += param.key;
      if (!param.has_value) continue;
      query += '=';
      if (is_secret_parameter(param.key)) {
        query += kRedacted;
        changed = true;
      } else {
        query += param.value;
      }
    }
    if (changed) url.set_encoded_query(query);
  }
  return changed ? std::string(url.buffer()) : std::string(text);
}

qorl_core::Value redact_urls(const qorl_core::Value& value, std::size_t limit) {
  if (value.is_string()) return redact_url(prefix_characters(value.as_string(), limit));
  if (value.is_bytes() && value.as_bytes().size() > limit) {
    return qorl_core::Bytes(std::string(value.as_bytes().view().substr(0, limit)));
  }
  if (value.is_list()) {
    qorl_core::List items;
    items.reserve(value.as_list().size());
    for (const auto& item : value.as_list()) items.push_back(redact_urls(item, limit));
    return items;
  }
  if (value.is_map()) {
    qorl_core::Map entries;
    value.as_map().for_each([&](const std::string& key, const qorl_core::Value& item) {
      entries.set(key, redact_urls(item, limit));
    });
    return entries;
  }
  return value;
}

std::string redact_secrets(std::string text, const std::vector<std::string>& secrets) {
  for (const auto& secret : secrets) {
    if (secret.empty()) continue;
    for (auto pos = text.find(secret); pos != std::string::npos; pos = text.find(secret, pos + 3)) {
      text.replace(pos, secret.size(), "***");
    }
  }
  return text;
}

void register_secret(const std::string& secret) {
  if (secret.empty()) return;
  auto& registry = Registry::instance();
  std::lock_guard lock(registry.mutex);
  if (std::find(registry.secrets.begin(), registry.secrets.end(), secret) ==
      registry.secrets.end()) {
    registry.secrets.push_back(secret);
  }
}

std::string redact_text(std::string_view text) {
  // URLs end at blanks, quotes and the brackets that enclose them in debug forms.
  constexpr std::string_view kUrlEnds = " \t\r\n'\"<>()[]{},";
  std::string line;
  line.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find_first_of(kUrlEnds, start), text.size());
    line += redact_url(text.substr(start, end - start));
    if (end < text.size()) line += text[end];
    start = end + 1;
  }
  std::vector<std::string> secrets;
  {
    auto& registry = Registry::instance();
    std::lock_guard lock(registry.mutex);
    secrets = registry.secrets;
  }
  return shorten_base64_runs(redact_secrets(std::move(line), secrets));
}

}  // namespace qorl_core::redaction
