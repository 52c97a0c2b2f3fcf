#include "testing/hostile_http.hpp"

#include <zlib.h>

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

}  // namespace qorl_testing
