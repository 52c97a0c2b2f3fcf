// Audio files made by the tests themselves (libsndfile): sine tones in common containers.
#pragma once

#include <string>
#include <vector>

namespace qorl_testing {

enum class AudioContainer { WAV, FLAC, OGG, MP3, AIFF };

// A file of `seconds` of sine tones at `amplitude` (channel c at 440 * (c + 1) Hz), in the
// container's usual encoding (16-bit PCM for WAV/AIFF/FLAC, Vorbis, MPEG layer III).
std::string sine_audio(AudioContainer container, int channels, int sample_rate, double seconds,
                       double amplitude = 0.5);

// Interleaved samples of a file, decoded by libsndfile, with its layout.
struct DecodedAudio {
  std::vector<double> samples;
  int channels = 0;
  int sample_rate = 0;
  long long frames = 0;
  int format = 0;  // SF_FORMAT_* bits
};
DecodedAudio decode_audio(const std::string& file);

}  // namespace qorl_testing
