// Settings of the AWS conventions read from the environment and the shared files
// (~/.aws/credentials and ~/.aws/config, or the files AWS_SHARED_CREDENTIALS_FILE and
// AWS_CONFIG_FILE name), for the profile AWS_PROFILE selects.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace clients::aws {

using Profile = std::map<std::string, std::string, std::less<>>;

// AWS_PROFILE, then AWS_DEFAULT_PROFILE, then "default".
std::string profile_name();

// The keys of one section of an INI text ("[name]"); nested sub-settings (indented lines
// under "key =") are skipped. Empty when the section is absent.
Profile read_ini_section(std::string_view text, std::string_view section);

// The current profile from the shared credentials file ("[name]") and from the config file
// ("[profile name]", or "[default]" for the default profile); empty when absent.
Profile credentials_file_profile();
Profile config_file_profile();

// AWS_REGION, AWS_DEFAULT_REGION, the profile's region, else us-east-1.
std::string resolve_region();

// AWS_ENDPOINT_URL_S3, then AWS_ENDPOINT_URL; none when neither is set.
std::optional<std::string> s3_endpoint_url();

// The environment variable's value, none when unset or empty.
std::optional<std::string> env(const char* name);

}  // namespace clients::aws
