// One channel of a recording at a chosen sample rate, read a block at a time, so that a long
// recording is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "qorl_multimodal/utils/sound_file.hpp"

struct SwrContext;

namespace qorl_multimodal::utils::audio_mono_stream {

class MonoStream {
 public:
  // Reads `reader` (which must outlive the stream) from where it stands, each frame the mean of
  // its channel values, resampled to `sample_rate` by libswresample when the rates differ.
  MonoStream(sound_file::Reader& reader, int sample_rate);
  ~MonoStream();
  MonoStream(const MonoStream&) = delete;
  MonoStream& operator=(const MonoStream&) = delete;

  // Appends up to `count` samples to `out`; 0 at the end. The stream holds, in all, as many
  // samples as resampling the whole recording at once gives: the whole-number part of its frames
  // times the rate ratio.
  std::size_t read(std::vector<double>& out, std::size_t count);

 private:
  // Decodes the next block into `pending_`; false at the end of the recording.
  bool refill();

  sound_file::Reader& reader_;
  int sample_rate_;
  SwrContext* resampler_ = nullptr;
  std::vector<double> frames_;
  std::vector<double> mono_;
  std::vector<double> pending_;
  std::size_t pending_offset_ = 0;
  std::int64_t frames_read_ = 0;
  std::size_t samples_out_ = 0;
  bool ended_ = false;
};

}  // namespace qorl_multimodal::utils::audio_mono_stream
