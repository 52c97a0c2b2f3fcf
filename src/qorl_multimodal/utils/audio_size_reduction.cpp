#include "qorl_multimodal/utils/audio_size_reduction.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "qorl_multimodal/utils/sound_file.hpp"

namespace qorl_multimodal::utils::audio_size_reduction {
namespace {

std::string encode_pcm16_flac(const std::vector<double>& data, int sample_rate) {
  sound_file::FlacWriter writer(sample_rate, 1, sound_file::Subtype::PCM_16, data.size() * 2);
  std::vector<std::int16_t> block(static_cast<std::size_t>(sound_file::kBlockFrames));
  for (std::size_t offset = 0; offset < data.size(); offset += block.size()) {
    const std::size_t count = std::min(block.size(), data.size() - offset);
    for (std::size_t i = 0; i < count; ++i) {
      const double scaled = std::trunc(data[offset + i] * 32767.0);
      block[i] = static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    }
    writer.write(block.data(), static_cast<std::int64_t>(count));
  }
  return writer.finish();
}

// The length at each rate of `samples` samples at `rate`. Each follows from the one before, as
// when every step resamples the previous result.
std::vector<std::size_t> lengths_at(std::size_t samples, int rate,
                                    std::span<const int> sample_rates) {
  std::vector<std::size_t> lengths;
  for (const int target : sample_rates) {
    if (target != rate) {
      samples = static_cast<std::size_t>(static_cast<double>(samples) * target / rate);
      rate = target;
    }
    lengths.push_back(samples);
  }
  return lengths;
}

}  // namespace

std::optional<std::string> first_accepted_flac(std::string_view audio,
                                               std::span<const int> sample_rates,
                                               const Acceptor& accept,
                                               const fourier_resample::Workers& workers) {
  using fourier_resample::Resampler;
  sound_file::Reader reader(audio);
  const int rate = reader.info().sample_rate;
  const std::size_t expected = sound_file::expected_frames(reader);
  auto resampler =
      std::make_unique<Resampler>(expected, lengths_at(expected, rate, sample_rates), workers);
  resampler->start_planning();
  // Mixing to one channel first equals mixing after resampling (both are linear) and holds a
  // single channel.
  sound_file::decode_mono(reader, resampler->signal());
  if (const std::size_t decoded = resampler->signal().size(); decoded != expected) {
    auto actual =
        std::make_unique<Resampler>(decoded, lengths_at(decoded, rate, sample_rates), workers);
    actual->signal() = std::move(resampler->signal());
    resampler = std::move(actual);
  }

  std::optional<std::string> accepted;
  std::size_t step = 0;
  resampler->run([&](std::vector<double>& data) {
    std::string flac = encode_pcm16_flac(data, sample_rates[step]);
    if (accept(step++, flac)) accepted = std::move(flac);
    return !accepted;
  });
  return accepted;
}

}  // namespace qorl_multimodal::utils::audio_size_reduction
