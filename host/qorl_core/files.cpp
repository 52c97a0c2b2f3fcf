#include "qorl_core/files.hpp"

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "clients/common/files.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/value.hpp"  // repr

namespace qorl_core {
namespace {

std::runtime_error os_error(int error, const std::string& path) {
  return std::runtime_error("[Errno " + std::to_string(error) + "] " + std::strerror(error) + ": " +
                            repr(path));
}

}  // namespace

std::string read_regular_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw ValueError("embedded null byte");
  try {
    return clients::common::read_regular_file(path, std::numeric_limits<std::uint64_t>::max());
  } catch (const std::system_error& error) {
    throw os_error(error.code().value(), path);
  } catch (const clients::common::NotRegularFileError& refused) {
    if (refused.kind() == "a directory") throw os_error(EISDIR, path);
    throw std::runtime_error("Not a regular file (" + refused.kind() + "): " + repr(path));
  }
}

}  // namespace qorl_core
