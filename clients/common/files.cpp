#include "clients/common/files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <system_error>

namespace clients::common {
namespace {

namespace fs = std::filesystem;

std::system_error read_error(const std::string& path) {
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

// The entries the process made and has not removed yet: what a process ending on a signal removes.
struct Registry {
  std::mutex mutex;
  std::set<std::string> paths;
  bool closed = false;  // the process is ending: no new entries
};

Registry& registry() {
  // Never destroyed: a signal may end the process while static objects are being destroyed.
  static auto* const instance = new Registry;
  return *instance;
}

void forget(const fs::path& path) {
  Registry& entries = registry();
  std::lock_guard lock(entries.mutex);
  entries.paths.erase(path.string());
}

std::string random_letters() {
  static constexpr std::string_view kLetters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 random{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  std::string letters(6, ' ');
  for (char& letter : letters) letter = kLetters[pick(random)];
  return letters;
}

struct NewEntry {
  fs::path path;
  int fd = -1;  // of a file, open for writing
};

// Makes a file or directory that did not exist, `directory/<before>XXXXXX<after>` with `mode`
// (less the umask), and registers it for removal.
NewEntry create_entry(const fs::path& directory, const std::string& before,
                      const std::string& after, bool is_directory, mode_t mode) {
  Registry& entries = registry();
  for (int attempt = 0; attempt < 100; ++attempt) {
    NewEntry entry{directory / (before + random_letters() + after)};
    std::lock_guard lock(entries.mutex);
    if (entries.closed) {
      throw std::system_error(ECANCELED, std::generic_category(),
                              "cannot create " + entry.path.string());
    }
    const int made =
        is_directory ? ::mkdir(entry.path.c_str(), mode)
                     : ::open(entry.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (made >= 0) {
      if (!is_directory) entry.fd = made;
      entries.paths.insert(entry.path.string());
      return entry;
    }
    if (errno != EEXIST) {
      throw std::system_error(errno, std::generic_category(),
                              "cannot create " + entry.path.string());
    }
  }
  throw std::system_error(EEXIST, std::generic_category(),
                          "cannot create a file in " + directory.string());
}

// 0, or the errno of the write that failed.
int write_all(int fd, std::string_view content) {
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// The pid in a temporary's name, `qorl-...-<pid>-XXXXXX`.
std::optional<pid_t> pid_in_name(std::string_view name) {
  constexpr std::size_t kLetters = 6;
  if (!name.starts_with("qorl-") || name.size() < kLetters + 2) return std::nullopt;
  const std::string_view letters = name.substr(name.size() - kLetters);
  name.remove_suffix(kLetters);
  if (!name.ends_with('-')) return std::nullopt;
  name.remove_suffix(1);
  for (const char letter : letters) {
    if (!std::isalnum(static_cast<unsigned char>(letter))) return std::nullopt;
  }
  const std::size_t dash = name.rfind('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view digits = name.substr(dash + 1);
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
  if (error != std::errc() || end != digits.data() + digits.size() || pid <= 0) return std::nullopt;
  return pid;
}

}  // namespace

void write_file_atomically(const fs::path& path, std::string_view content) {
  const auto failure = [&](int error) {
    return std::system_error(error, std::generic_category(), "cannot write " + path.string());
  };
  const fs::path directory = path.has_parent_path() ? path.parent_path() : fs::path(".");
  // Hidden, and short enough for any file name's limit.
  const std::string before = "." + path.filename().string().substr(0, 100) + ".";
  NewEntry entry;
  try {
    entry = create_entry(directory, before, ".tmp", false, 0644);
  } catch (const std::system_error& e) {
    throw failure(e.code().value());
  }
  int error = write_all(entry.fd, content);
  if (::close(entry.fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(entry.path.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(entry.path.c_str());
  forget(entry.path);
  if (error != 0) throw failure(error);
}

TemporaryPath::TemporaryPath(std::string_view prefix, Kind kind, std::string_view content) {
  const bool is_directory = kind == Kind::kDirectory;
  NewEntry entry = create_entry(fs::temp_directory_path(),
                                std::string(prefix) + "-" + std::to_string(::getpid()) + "-", "",
                                is_directory, is_directory ? 0700 : 0600);
  path_ = std::move(entry.path);
  if (is_directory) return;
  int error = write_all(entry.fd, content);
  if (::close(entry.fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(path_.c_str());
    forget(path_);
    throw std::system_error(error, std::generic_category(), "cannot write " + path_.string());
  }
}

TemporaryPath::~TemporaryPath() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  forget(path_);
}

void remove_temporaries() noexcept {
  Registry& entries = registry();
  std::lock_guard lock(entries.mutex);
  entries.closed = true;
  for (const auto& path : entries.paths) {
    std::error_code ignored;
    try {
      fs::remove_all(path, ignored);
    } catch (...) {
      // Out of memory while the process ends: the next run removes what is left.
    }
  }
}

void remove_stale_temporaries() noexcept {
  try {
    std::error_code error;
    const fs::path directory = fs::temp_directory_path(error);
    if (error) return;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
      const std::optional<pid_t> pid = pid_in_name(entry.path().filename().string());
      if (!pid || *pid == ::getpid()) continue;
      struct stat st {};
      if (::lstat(entry.path().c_str(), &st) != 0 || st.st_uid != ::geteuid()) continue;
      if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
      if (::kill(*pid, 0) == 0 || errno != ESRCH) continue;
      fs::remove_all(entry.path(), error);
    }
  } catch (...) {
    // Tidying up is not worth failing a run for.
  }
}

NotRegularFileError::NotRegularFileError(const std::string& path, std::string kind)
    : std::runtime_error(path + " is not a regular file (" + kind + "); refused"),
      kind_(std::move(kind)) {}

std::string read_regular_file(const std::string& path, std::uint64_t max_bytes) {
  if (path.find('\0') != std::string::npos) {
    throw std::runtime_error("a file path holds a NUL byte");
  }
  // Non-blocking, so that opening a FIFO without a writer returns at once.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw read_error(path);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw read_error(path);
  if (!S_ISREG(st.st_mode)) {
    throw NotRegularFileError(path, kind_of(st.st_mode));
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
      throw read_error(path);
    }
  }
}

}  // namespace clients::common
