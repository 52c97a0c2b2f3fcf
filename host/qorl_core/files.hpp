// The one whole-file reader behind every local source, and the one temporary directory.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace qorl_core {

// The whole content of the regular file at `path`. Anything else is refused at once, before a
// byte is read: reading a FIFO or a device would block or never end. Errors are std::runtime_error
// in the operating system's words, "[Errno 2] No such file or directory: 'a.wav'", or
// "Not a regular file (a named pipe): 'fifo'"; ValueError for a path with a NUL byte, which the
// system would cut short and so open another file.
std::string read_regular_file(const std::string& path);

// A directory of its own under the system's temporary directory, named `<prefix>-XXXXXX` and
// removed with everything in it when the object goes away. std::system_error when it cannot be
// made.
class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(std::string_view prefix);
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace qorl_core
