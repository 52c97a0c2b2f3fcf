#include "clients/common/url.hpp"

#include <boost/url/encode.hpp>
#include <boost/url/parse.hpp>
#include <boost/url/rfc/gen_delim_chars.hpp>
#include <boost/url/rfc/sub_delim_chars.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>

#include <cstdlib>

namespace clients::common {

std::string resolve_base_url(const std::optional<std::string>& given,
                             std::initializer_list<const char*> variables,
                             std::string_view fallback) {
  std::string url = given.value_or("");
  for (auto variable = variables.begin(); url.empty() && variable != variables.end(); ++variable) {
    if (const char* value = std::getenv(*variable)) url = value;
  }
  if (url.empty()) url = fallback;
  while (url.ends_with('/')) url.pop_back();
  return url;
}

std::optional<std::string_view> url_scheme(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos || !boost::urls::parse_uri(text.substr(0, colon + 1))) {
    return std::nullopt;
  }
  return text.substr(0, colon);
}

UrlParts split_url(std::string_view url) {
  UrlParts parts;
  if (const auto scheme = url_scheme(url)) {
    parts.scheme = std::string(*scheme);
    url.remove_prefix(scheme->size() + 1);
  }
  if (url.starts_with("//")) {
    url.remove_prefix(2);
    const auto end = url.find_first_of("/?#");
    parts.network_location = std::string(url.substr(0, end));
    url = end == std::string_view::npos ? std::string_view{} : url.substr(end);
  }
  parts.path = std::string(url.substr(0, url.find_first_of("?#")));
  return parts;
}

std::string encode_url(std::string_view url) {
  // '%' is kept as it is (escapes already there stay single), but Boost.URL refuses it in the
  // set of characters to keep, so the runs between them are encoded one by one.
  static const auto kKept =
      boost::urls::unreserved_chars + boost::urls::gen_delim_chars + boost::urls::sub_delim_chars;
  std::string encoded;
  for (;;) {
    const auto percent = url.find('%');
    encoded += boost::urls::encode(url.substr(0, percent), kKept);
    if (percent == std::string_view::npos) return encoded;
    encoded += '%';
    url.remove_prefix(percent + 1);
  }
}

std::string encode_path(std::string_view path) {
  return boost::urls::encode(path, boost::urls::unreserved_chars + '/');
}

}  // namespace clients::common
