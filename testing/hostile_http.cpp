#include "testing/hostile_http.hpp"

#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <fstream>
#include <stdexcept>

namespace qorl_testing {

std::string gzip_of_zeros(std::uint64_t size) {
  z_stream stream{};
  // 15 window bits plus 16: a gzip header and trailer around the deflate data.
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  const std::string zeros(std::size_t{1} << 20, '\0');
  std::string out;
  char buffer[1 << 16];
  auto drain = [&](int flush) {
    int status = Z_OK;
    do {
      stream.next_out = reinterpret_cast<Bytef*>(buffer);
      stream.avail_out = sizeof buffer;
      status = deflate(&stream, flush);
      out.append(buffer, sizeof buffer - stream.avail_out);
    } while (stream.avail_out == 0);
    return status;
  };
  for (std::uint64_t left = size; left > 0;) {
    const auto piece = static_cast<uInt>(std::min<std::uint64_t>(left, zeros.size()));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    stream.avail_in = piece;
    drain(Z_NO_FLUSH);
    left -= piece;
  }
  while (drain(Z_FINISH) != Z_STREAM_END) {
  }
  deflateEnd(&stream);
  return out;
}

namespace {

std::uint64_t own_peak_memory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;  // in kB
  }
  return 0;
}

}  // namespace

std::uint64_t peak_memory_of_child(const std::function<void()>& work) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    close(pipe_ends[0]);
    std::uint64_t peak = 0;
    try {
      work();
      peak = own_peak_memory();
    } catch (...) {
    }
    const bool written = peak > 0 && write(pipe_ends[1], &peak, sizeof peak) == sizeof peak;
    _exit(written ? 0 : 1);
  }
  close(pipe_ends[1]);
  std::uint64_t peak = 0;
  const auto got = read(pipe_ends[0], &peak, sizeof peak);
  close(pipe_ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (got != sizeof peak || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("the child measuring its memory did not report");
  return peak;
}

}  // namespace qorl_testing
