#include "clients/aws/shared_config.hpp"

#include <cstdlib>
#include <system_error>

#include "clients/aws/credentials.hpp"
#include "clients/common/files.hpp"
#include "clients/common/text.hpp"

namespace clients::aws {
namespace {

// The blanks around names, values and section headers of the AWS files.
std::string_view trim(std::string_view text) { return common::trim(text, " \t\r"); }

// Empty when the file does not exist, as the AWS tools read a missing file.
std::string read_file(const std::string& path) {
  try {
    return common::read_regular_file(path, common::MAX_CREDENTIALS_FILE_BYTES);
  } catch (const std::system_error& error) {
    if (error.code() == std::errc::no_such_file_or_directory) return {};
    throw Error("Cannot read the AWS shared file: " + std::string(error.what()));
  } catch (const std::runtime_error& error) {
    throw Error("Cannot read the AWS shared file: " + std::string(error.what()));
  }
}

// "~/..." is taken relative to HOME, as the AWS tools do.
std::string shared_file_path(const char* variable, std::string_view default_name) {
  std::string path = env(variable).value_or("~/.aws/" + std::string(default_name));
  if (path.starts_with("~/")) {
    const auto home = env("HOME");
    if (!home) return {};
    path = *home + path.substr(1);
  }
  return path;
}

}  // namespace

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

std::string profile_name() {
  if (auto name = env("AWS_PROFILE")) return *name;
  return env("AWS_DEFAULT_PROFILE").value_or("default");
}

Profile read_ini_section(std::string_view text, std::string_view section) {
  Profile values;
  bool inside = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view raw = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    // Indented lines continue the previous key: nested sub-settings, not profile keys.
    if (raw.front() == ' ' || raw.front() == '\t') continue;
    if (line.front() == '[' && line.back() == ']') {
      inside = trim(line.substr(1, line.size() - 2)) == section;
      continue;
    }
    if (!inside) continue;
    const auto delimiter = line.find_first_of("=:");
    if (delimiter == std::string_view::npos) continue;
    values.insert_or_assign(common::ascii_lower(trim(line.substr(0, delimiter))),
                            std::string(trim(line.substr(delimiter + 1))));
  }
  return values;
}

Profile credentials_file_profile() {
  const std::string path = shared_file_path("AWS_SHARED_CREDENTIALS_FILE", "credentials");
  return path.empty() ? Profile{} : read_ini_section(read_file(path), profile_name());
}

Profile config_file_profile() {
  const std::string path = shared_file_path("AWS_CONFIG_FILE", "config");
  if (path.empty()) return {};
  const std::string text = read_file(path);
  const std::string name = profile_name();
  Profile profile = read_ini_section(text, "profile " + name);
  if (profile.empty() && name == "default") profile = read_ini_section(text, "default");
  return profile;
}

std::string resolve_region() {
  if (auto region = env("AWS_REGION")) return *region;
  if (auto region = env("AWS_DEFAULT_REGION")) return *region;
  const Profile profile = config_file_profile();
  if (auto it = profile.find("region"); it != profile.end() && !it->second.empty()) {
    return it->second;
  }
  return "us-east-1";
}

std::optional<std::string> s3_endpoint_url() {
  if (auto url = env("AWS_ENDPOINT_URL_S3")) return url;
  return env("AWS_ENDPOINT_URL");
}

}  // namespace clients::aws
