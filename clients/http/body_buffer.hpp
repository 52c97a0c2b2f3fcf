// The body of an answer as it arrives, kept so that its memory stays close to its size: no
// doubling reallocation copies it while it grows, and handing it over copies it at most once,
// block by block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace clients::http::detail {

class BodyBuffer {
 public:
  // Room for the size the answer announces: a body that keeps to it is never copied.
  void expect(std::uint64_t size);
  void append(std::string_view data);
  std::uint64_t size() const noexcept { return size_; }
  // The whole body; the buffer is empty afterwards.
  std::string take();
  void clear();

 private:
  std::vector<std::string> blocks_;
  std::uint64_t size_ = 0;
};

}  // namespace clients::http::detail
