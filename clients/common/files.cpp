#include "clients/common/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace clients::common {
namespace {

std::system_error os_error(const std::string& path) {
  return std::system_error(errno, std::generic_category(), path);
}

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a file";
}

std::runtime_error too_large(const std::string& path, std::uint64_t max_bytes) {
  return std::runtime_error(path + " is larger than the " + std::to_string(max_bytes) +
                            " bytes allowed for it; refused");
}

}  // namespace

std::string read_regular_file(const std::string& path, std::uint64_t max_bytes) {
  if (path.find('\0') != std::string::npos) {
    throw std::runtime_error("a file path holds a NUL byte");
  }
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw os_error(path);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw os_error(path);
  if (!S_ISREG(st.st_mode)) {
    throw std::runtime_error(path + " is not a regular file (" + kind_of(st.st_mode) +
                             "); refused");
  }
  if (static_cast<std::uint64_t>(st.st_size) > max_bytes) throw too_large(path, max_bytes);
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      if (data.size() + static_cast<std::size_t>(n) > max_bytes) throw too_large(path, max_bytes);
      data.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return data;
    } else if (errno != EINTR) {
      throw os_error(path);
    }
  }
}

}  // namespace clients::common
