#include "qorl_multimodal/utils/repetition_check.hpp"

#include <zlib.h>

#include <algorithm>
#include <string>

#include "qorl_core/text.hpp"

namespace qorl_multimodal::utils::repetition_check {

bool Repetition::better_than(const Repetition& other) const noexcept {
  if (loops() != other.loops()) return !loops();
  return compression_ratio < other.compression_ratio;
}

Repetition measure(const std::vector<AudioTranscript>& transcript) {
  Repetition repetition;
  std::string text;
  std::string_view previous;
  std::size_t run = 0;
  for (const auto& segment : transcript) {
    const std::string_view current = qorl_core::trim(segment.text);
    run = !current.empty() && current == previous ? run + 1 : 1;
    repetition.longest_run = std::max(repetition.longest_run, current.empty() ? 0 : run);
    previous = current;
    if (!text.empty()) text += ' ';
    text += current;
  }
  repetition.compression_ratio = compression_ratio(text);
  return repetition;
}

double compression_ratio(std::string_view text) {
  if (text.empty()) return 0.0;
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string compressed(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(compressed.data()), &size,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return 0.0;
  }
  return static_cast<double>(text.size()) / static_cast<double>(size);
}

}  // namespace qorl_multimodal::utils::repetition_check
