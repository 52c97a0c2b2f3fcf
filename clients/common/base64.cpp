#include "clients/common/base64.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace clients::common {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> make_decode_table() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return table;
}

constexpr auto kDecode = make_decode_table();

// The two symbols of every 12-bit group: a 3-byte group is two lookups (large attachments are
// encoded on the event loop).
constexpr std::array<std::array<char, 2>, 4096> make_pair_table() {
  std::array<std::array<char, 2>, 4096> table{};
  for (int i = 0; i < 4096; ++i) table[i] = {kAlphabet[i >> 6], kAlphabet[i & 63]};
  return table;
}

constexpr auto kPairs = make_pair_table();

// Six input bytes, read as the top 48 bits of one big-endian word, give eight symbols.
inline void encode_six(const unsigned char* in, char* out) {
  std::uint64_t word;
  std::memcpy(&word, in, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  std::memcpy(out, kPairs[(word >> 52) & 4095].data(), 2);
  std::memcpy(out + 2, kPairs[(word >> 40) & 4095].data(), 2);
  std::memcpy(out + 4, kPairs[(word >> 28) & 4095].data(), 2);
  std::memcpy(out + 6, kPairs[(word >> 16) & 4095].data(), 2);
}

}  // namespace

void base64_append(std::string& out, std::string_view data) {
  const std::size_t start = out.size();
  out.resize(start + (data.size() + 2) / 3 * 4);
  char* next = out.data() + start;
  const auto* in = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t i = 0;
  // Each step reads eight bytes and encodes six of them: one load for two groups.
  for (; i + 8 <= data.size(); i += 6, next += 8) encode_six(in + i, next);
  for (; i + 2 < data.size(); i += 3, next += 4) {
    const std::uint32_t n = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    std::memcpy(next, kPairs[n >> 12].data(), 2);
    std::memcpy(next + 2, kPairs[n & 4095].data(), 2);
  }
  const std::size_t rest = data.size() - i;
  if (rest == 0) return;
  const std::uint32_t n = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
  next[0] = kAlphabet[n >> 18];
  next[1] = kAlphabet[(n >> 12) & 63];
  next[2] = rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
  next[3] = '=';
}

std::string base64_encode(std::string_view data) {
  std::string out;
  base64_append(out, data);
  return out;
}

std::string base64url_encode(std::string_view data) {
  std::string out = base64_encode(data);
  while (!out.empty() && out.back() == '=') out.pop_back();
  for (char& c : out) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return out;
}

std::optional<std::string> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int padding = 0;
    std::uint32_t n = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const unsigned char c = static_cast<unsigned char>(text[i + j]);
      if (c == '=' && last && j >= 2) {
        ++padding;
        n <<= 6;
        continue;
      }
      if (padding > 0 || kDecode[c] < 0) return std::nullopt;  // data after '=' or a stray char
      n = (n << 6) | static_cast<std::uint32_t>(kDecode[c]);
    }
    out += static_cast<char>((n >> 16) & 0xff);
    if (padding < 2) out += static_cast<char>((n >> 8) & 0xff);
    if (padding < 1) out += static_cast<char>(n & 0xff);
  }
  return out;
}

}  // namespace clients::common
