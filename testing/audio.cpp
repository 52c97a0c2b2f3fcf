#include "testing/audio.hpp"

#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "testing/temp_dir.hpp"

namespace qorl_testing {

namespace {

int format_of(AudioContainer container) {
  switch (container) {
    case AudioContainer::WAV: return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case AudioContainer::FLAC: return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    case AudioContainer::OGG: return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case AudioContainer::MP3: return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    case AudioContainer::AIFF: return SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
  }
  throw std::invalid_argument("unknown container");
}

std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string sine_audio(AudioContainer container, int channels, int sample_rate, double seconds,
                       double amplitude) {
  const TempDir dir;
  const auto path = dir.path() / "sine";
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = channels;
  info.format = format_of(container);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file)
    throw std::runtime_error(std::string("cannot write test audio: ") + sf_strerror(nullptr));
  const auto frames = static_cast<long long>(std::llround(seconds * sample_rate));
  std::vector<double> samples(static_cast<std::size_t>(frames * channels));
  for (long long f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      samples[static_cast<std::size_t>(f * channels + c)] =
          amplitude * std::sin(2 * std::numbers::pi * 440.0 * (c + 1) * f / sample_rate);
    }
  }
  sf_writef_double(file, samples.data(), frames);
  sf_close(file);
  return read_all(path);
}

DecodedAudio decode_audio(const std::string& file) {
  const TempDir dir;
  const auto path = dir.write("audio", file);
  SF_INFO info{};
  SNDFILE* handle = sf_open(path.c_str(), SFM_READ, &info);
  if (!handle)
    throw std::runtime_error(std::string("cannot read test audio: ") + sf_strerror(nullptr));
  DecodedAudio out;
  out.channels = info.channels;
  out.sample_rate = info.samplerate;
  out.frames = info.frames;
  out.format = info.format;
  out.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  out.frames = sf_readf_double(handle, out.samples.data(), info.frames);
  out.samples.resize(static_cast<std::size_t>(out.frames * info.channels));
  sf_close(handle);
  return out;
}

}  // namespace qorl_testing
