// The one reader of whole local files for the clients (key files, credential and config files,
// token files), with a size cap: paths come from the user or the environment, and may name a
// FIFO, a device or a huge file.
#pragma once

#include <cstdint>
#include <string>

namespace clients::common {

// Key and credential files are a few kilobytes.
inline constexpr std::uint64_t MAX_CREDENTIALS_FILE_BYTES = std::uint64_t{1} << 20;

// The whole content of the regular file at `path`, refused before a byte is read when it is
// anything else (a FIFO, a device, a directory) or larger than `max_bytes`; a file that grows
// past the cap while it is read is refused too. Throws std::system_error (its errno) when the
// system cannot open or read it, std::runtime_error naming the path otherwise.
std::string read_regular_file(const std::string& path, std::uint64_t max_bytes);

}  // namespace clients::common
