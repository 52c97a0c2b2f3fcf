#include "qorl_multimodal/utils/audio_mono_stream.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "qorl_multimodal/utils/fourier_resample.hpp"

namespace qorl_multimodal::utils::audio_mono_stream {
namespace {

// A stereo 24-bit FLAC of `seconds` at `rate`: 300 Hz on the left, 1 kHz on the right.
std::string stereo_tones(int rate, double seconds) {
  const auto frames = static_cast<std::size_t>(rate * seconds);
  std::vector<double> samples(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    samples[2 * i] = 0.4 * std::sin(2 * std::numbers::pi * 300 * t);
    samples[2 * i + 1] = 0.4 * std::sin(2 * std::numbers::pi * 1000 * t);
  }
  sound_file::FlacWriter writer(rate, 2, sound_file::Subtype::PCM_24);
  writer.write(samples.data(), static_cast<std::int64_t>(frames));
  return writer.finish();
}

// Every sample of the stream, read in pieces of an odd size.
std::vector<double> read_all(MonoStream& stream) {
  std::vector<double> out;
  while (stream.read(out, 7001) > 0) {
  }
  return out;
}

TEST(MonoStreamTest, MixesAndResamplesAsTheWholeSignalIsResampled) {
  const std::string flac = stereo_tones(44100, 3.0);
  const sound_file::MonoAudio mono = sound_file::decode_mono(flac);

  sound_file::Reader reader(flac);
  MonoStream stream(reader, 16000);
  const std::vector<double> streamed = read_all(stream);
  std::vector<double> expected = mono.samples;
  fourier_resample::resample(expected, expected.size() * 16000 / 44100);
  ASSERT_EQ(streamed.size(), expected.size());
  // The same signal, up to the two methods' filters (the edges, where the whole-signal method
  // wraps around, aside).
  double worst = 0;
  for (std::size_t i = 100; i + 100 < expected.size(); ++i) {
    worst = std::max(worst, std::abs(streamed[i] - expected[i]));
  }
  EXPECT_LT(worst, 1e-3);

  // At its own rate the stream is the mix itself, sample for sample.
  sound_file::Reader same_rate(flac);
  MonoStream unchanged(same_rate, 44100);
  EXPECT_EQ(read_all(unchanged), mono.samples);
}

}  // namespace
}  // namespace qorl_multimodal::utils::audio_mono_stream
