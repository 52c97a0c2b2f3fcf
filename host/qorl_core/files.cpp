#include "qorl_core/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "qorl_core/errors.hpp"
#include "qorl_core/value.hpp"  // repr

namespace qorl_core {
namespace {

std::runtime_error os_error(int error, const std::string& path) {
  return std::runtime_error("[Errno " + std::to_string(error) + "] " + std::strerror(error) + ": " +
                            repr(path));
}

const char* kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a file";
}

}  // namespace

std::string read_regular_file(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw ValueError("embedded null byte");
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw os_error(errno, path);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw os_error(errno, path);
  if (S_ISDIR(st.st_mode)) throw os_error(EISDIR, path);
  if (!S_ISREG(st.st_mode)) {
    throw std::runtime_error(std::string("Not a regular file (") + kind_of(st.st_mode) +
                             "): " + repr(path));
  }
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
      return data;
    } else if (errno != EINTR) {
      throw os_error(errno, path);
    }
  }
}

}  // namespace qorl_core
