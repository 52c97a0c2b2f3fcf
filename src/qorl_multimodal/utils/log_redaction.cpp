#include "qorl_multimodal/utils/log_redaction.hpp"

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include <algorithm>
#include <array>
#include <cctype>

namespace qorl_multimodal::utils::log_redaction {

namespace {

constexpr std::string_view kRedacted = "REDACTED";

bool is_secret_parameter(std::string_view encoded_name) {
  std::string name(encoded_name);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static constexpr std::array<std::string_view, 7> kParts = {
      "signature", "token", "credential", "secret", "password", "apikey", "api_key"};
  if (name == "sig" || name == "key" || name == "auth") return true;
  return std::any_of(kParts.begin(), kParts.end(),
                     [&](std::string_view part) { return name.find(part) != std::string::npos; });
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
  if (value.is_string()) return redact_url(std::string_view(value.as_string()).substr(0, limit));
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

}  // namespace qorl_multimodal::utils::log_redaction
