#include "qorl_multimodal/utils/audio_mono_stream.hpp"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <stdexcept>
#include <string>

namespace qorl_multimodal::utils::audio_mono_stream {

namespace {

SwrContext* make_resampler(int from_rate, int to_rate) {
  SwrContext* resampler = nullptr;
  AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;  // FFmpeg 5 takes it as non-const
  if (swr_alloc_set_opts2(&resampler, &mono, AV_SAMPLE_FMT_DBL, to_rate, &mono, AV_SAMPLE_FMT_DBL,
                          from_rate, 0, nullptr) < 0 ||
      swr_init(resampler) < 0) {
    swr_free(&resampler);
    throw std::runtime_error("Cannot resample audio from " + std::to_string(from_rate) + " Hz to " +
                             std::to_string(to_rate) + " Hz");
  }
  return resampler;
}

}  // namespace

MonoStream::MonoStream(sound_file::Reader& reader, int sample_rate)
    : reader_(reader),
      sample_rate_(sample_rate),
      frames_(static_cast<std::size_t>(sound_file::kBlockFrames) *
              std::max(reader.info().channels, 1)),
      mono_(static_cast<std::size_t>(sound_file::kBlockFrames)) {
  if (reader.info().sample_rate != sample_rate) {
    resampler_ = make_resampler(reader.info().sample_rate, sample_rate);
  }
}

MonoStream::~MonoStream() { swr_free(&resampler_); }

std::size_t MonoStream::read(std::vector<double>& out, std::size_t count) {
  std::size_t appended = 0;
  while (appended < count) {
    if (pending_offset_ == pending_.size() && !refill()) break;
    const std::size_t n = std::min(count - appended, pending_.size() - pending_offset_);
    const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(pending_offset_);
    out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(n));
    pending_offset_ += n;
    appended += n;
  }
  return appended;
}

bool MonoStream::refill() {
  if (ended_) return false;
  pending_.clear();
  pending_offset_ = 0;
  const std::int64_t n = reader_.read(frames_.data(), sound_file::kBlockFrames);
  if (n > 0) {
    frames_read_ += n;
    sound_file::mix_to_mono(frames_.data(), n, reader_.info().channels, mono_.data());
    if (!resampler_) {
      pending_.assign(mono_.begin(), mono_.begin() + n);
      samples_out_ += pending_.size();
      return true;
    }
    const auto* in = reinterpret_cast<const std::uint8_t*>(mono_.data());
    pending_.resize(static_cast<std::size_t>(swr_get_out_samples(resampler_, static_cast<int>(n))));
    auto* out = reinterpret_cast<std::uint8_t*>(pending_.data());
    const int made =
        swr_convert(resampler_, &out, static_cast<int>(pending_.size()), &in, static_cast<int>(n));
    if (made < 0) throw std::runtime_error("Error resampling audio");
    pending_.resize(static_cast<std::size_t>(made));
    samples_out_ += pending_.size();
    return true;
  }
  ended_ = true;
  if (!resampler_) return false;
  // The resampler's last samples, then the length whole-signal resampling gives (they differ by
  // a sample or two of rounding at most).
  for (;;) {
    const std::size_t used = pending_.size();
    pending_.resize(used + static_cast<std::size_t>(swr_get_out_samples(resampler_, 0)) + 1);
    auto* out = reinterpret_cast<std::uint8_t*>(pending_.data() + used);
    const int made =
        swr_convert(resampler_, &out, static_cast<int>(pending_.size() - used), nullptr, 0);
    if (made < 0) throw std::runtime_error("Error resampling audio");
    pending_.resize(used + static_cast<std::size_t>(made));
    if (made == 0) break;
  }
  const auto total = static_cast<std::size_t>(static_cast<double>(frames_read_) * sample_rate_ /
                                              reader_.info().sample_rate);
  pending_.resize(total > samples_out_ ? total - samples_out_ : 0, 0.0);
  samples_out_ += pending_.size();
  return !pending_.empty();
}

}  // namespace qorl_multimodal::utils::audio_mono_stream
