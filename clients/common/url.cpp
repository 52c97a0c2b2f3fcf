#include "clients/common/url.hpp"

#include <boost/url/encode.hpp>
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

std::string encode_path(std::string_view path) {
  return boost::urls::encode(path, boost::urls::unreserved_chars + '/');
}

}  // namespace clients::common
