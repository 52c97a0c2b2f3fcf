// The one whole-file reader behind every local source, the one file writer of results, and the
// temporary files and directories of the process.
#pragma once

#include <string>

#include "clients/common/files.hpp"

namespace qorl_core {

// The whole content of the regular file at `path`. Anything else is refused at once, before a
// byte is read: reading a FIFO or a device would block or never end. Errors are std::runtime_error
// in the operating system's words, "[Errno 2] No such file or directory: 'a.wav'", or
// "Not a regular file (a named pipe): 'fifo'"; ValueError for a path with a NUL byte, which the
// system would cut short and so open another file.
std::string read_regular_file(const std::string& path);

// The private and temporary files of the process, kept with the clients, which may use nothing
// above them (ffmpeg's input files).
using clients::common::remove_stale_temporaries;
using clients::common::remove_temporaries;
using clients::common::TemporaryDirectory;
using clients::common::TemporaryFile;
using clients::common::write_file_atomically;

}  // namespace qorl_core
