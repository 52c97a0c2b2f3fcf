#include "clients/http/body_buffer.hpp"

#include <algorithm>

namespace clients::http::detail {
namespace {

constexpr std::size_t kFirstBlock = std::size_t{16} << 10;
// Larger than glibc's largest mmap threshold: such blocks are mapped on their own and go back
// to the system as soon as they are freed.
constexpr std::size_t kLargeBlock = std::size_t{64} << 20;

// Blocks grow with the body, by a quarter of it: what is reserved and not yet written stays
// within a quarter of the body.
std::size_t next_block(std::uint64_t size) {
  if (size >= kLargeBlock / 2) return kLargeBlock;
  return std::max(kFirstBlock, static_cast<std::size_t>(size / 4));
}

}  // namespace

void BodyBuffer::expect(std::uint64_t size) {
  if (!blocks_.empty() || size == 0) return;
  blocks_.emplace_back().reserve(static_cast<std::size_t>(size));
}

void BodyBuffer::append(std::string_view data) {
  size_ += data.size();
  while (!data.empty()) {
    if (blocks_.empty() || blocks_.back().size() == blocks_.back().capacity())
      blocks_.emplace_back().reserve(next_block(size_));
    std::string& block = blocks_.back();
    const std::size_t taken = std::min(data.size(), block.capacity() - block.size());
    block.append(data.substr(0, taken));
    data.remove_prefix(taken);
  }
}

std::string BodyBuffer::take() {
  std::string whole;
  if (blocks_.size() == 1) {
    whole = std::move(blocks_.front());
  } else if (!blocks_.empty()) {
    // Reserved pages are only touched as they are written, and each block is freed once
    // copied: the peak stays near the body's size plus one block.
    whole.reserve(static_cast<std::size_t>(size_));
    for (std::string& block : blocks_) {
      whole.append(block);
      std::string().swap(block);
    }
  }
  clear();
  return whole;
}

void BodyBuffer::clear() {
  blocks_.clear();
  size_ = 0;
}

}  // namespace clients::http::detail
