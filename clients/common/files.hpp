// Local files: the one capped reader of whole files named by the user or the environment (key,
// credential, config and token files may name a FIFO, a device or a huge file); results
// replaced whole, never in place; and temporary files and directories that are removed however
// the process ends, or by the next process when it was killed. Shared by every layer (the
// clients may use nothing above them).
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace clients::common {

// Key and credential files are a few kilobytes.
inline constexpr std::uint64_t MAX_CREDENTIALS_FILE_BYTES = std::uint64_t{1} << 20;

// What read_regular_file refuses before reading a byte: a path that names no regular file.
class NotRegularFileError : public std::runtime_error {
 public:
  NotRegularFileError(const std::string& path, std::string kind);
  // "a directory", "a named pipe", "a character device", ...
  const std::string& kind() const noexcept { return kind_; }

 private:
  std::string kind_;
};

// The whole content of the regular file at `path`, refused before a byte is read when it is
// anything else (a FIFO, a device, a directory: NotRegularFileError) or larger than `max_bytes`;
// a file that grows past the cap while it is read is refused too (std::runtime_error naming the
// path). Throws std::system_error (its errno) when the system cannot open or read it.
std::string read_regular_file(const std::string& path, std::uint64_t max_bytes);

// Writes `content` to `path` so that a reader finds the old file or the whole new one, never a
// part: the bytes go to a new file of a unique name beside it (mode 0644 less the umask), which
// then takes the place of `path`. A symbolic link at `path` is replaced, not followed. When
// anything fails the new file is removed and `path` is left as it was; std::system_error
// "cannot write <path>: <reason>".
void write_file_atomically(const std::filesystem::path& path, std::string_view content);

// A file or directory of its own under the system's temporary directory, named
// `<prefix>-<pid>-XXXXXX` (`prefix` starts with "qorl-"), removed with everything in it when the
// object goes away, or by remove_temporaries() when the process is ending on a signal. The pid
// in the name lets a later process remove what a killed one left (remove_stale_temporaries()).
class TemporaryPath {
 public:
  ~TemporaryPath();
  TemporaryPath(const TemporaryPath&) = delete;
  TemporaryPath& operator=(const TemporaryPath&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

 protected:
  enum class Kind { kFile, kDirectory };
  // Only this user may read or enter it; a file holds `content`. std::system_error when it
  // cannot be made or written.
  TemporaryPath(std::string_view prefix, Kind kind, std::string_view content = {});

 private:
  std::filesystem::path path_;
};

class TemporaryDirectory : public TemporaryPath {
 public:
  explicit TemporaryDirectory(std::string_view prefix) : TemporaryPath(prefix, Kind::kDirectory) {}
};

// A file holding `content`, which only this user can read.
class TemporaryFile : public TemporaryPath {
 public:
  TemporaryFile(std::string_view prefix, std::string_view content)
      : TemporaryPath(prefix, Kind::kFile, content) {}
};

// Removes every temporary of the process, and the new file of a write_file_atomically in
// progress, and makes no more: for a process about to end on a signal.
void remove_temporaries() noexcept;

// Removes what processes that no longer run left in the temporary directory: entries this user
// owns named `qorl-...-<pid>-XXXXXX` whose process is gone. Symbolic links are left alone.
void remove_stale_temporaries() noexcept;

}  // namespace clients::common
