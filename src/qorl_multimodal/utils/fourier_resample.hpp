// Fourier-method resampling on FFTW: transform the whole signal, shorten or zero-extend its
// spectrum, transform back scaled for the new length.
#pragma once

#include <boost/asio/any_io_executor.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qorl_multimodal::utils::fourier_resample {

// Replaces `samples` (one channel) by exactly `num` samples. Downsampling works in place in the
// vector's memory (give it capacity for two more values to avoid a copy). The frequency at
// half the shorter length is doubled when shortening and halved when extending, as
// SciPy's resample does for real signals.
void resample(std::vector<double>& samples, std::size_t num);

// Receives one result of resample_each: the samples in a buffer it may keep. Returns whether
// to go on to the next length.
using ResultHandler = std::function<bool(std::vector<double>&)>;

// Resamples `samples` to each of `lengths` in turn, as resample() would, handing each result
// to `handle` until it returns false. The signal is transformed once: each result is cut from
// that spectrum, which equals resampling the previous result again. Two buffers serve every
// step: the signal's own (transformed in place) and one for the bins later steps need.
void resample_each(std::vector<double> samples, std::span<const std::size_t> lengths,
                   const ResultHandler& handle);

// Where planning may run beside the caller: the executor given for blocking work. None: the
// calling thread alone.
using Workers = std::optional<boost::asio::any_io_executor>;

// resample_each with the transforms planned ahead, on the workers, while the signal is still
// being read and the earlier transforms run: planning a first transform of a length computes
// its twiddle factors, which costs about as much as the transform itself.
class Resampler {
 public:
  // For a signal of `n` samples, resampled to each of `lengths` in turn. The buffers are
  // reserved here (untouched memory costs nothing until written).
  Resampler(std::size_t n, std::vector<std::size_t> lengths, Workers workers = std::nullopt);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // The signal goes here. One of another length, or moved to other memory, is still resampled
  // correctly, after planning again.
  std::vector<double>& signal() noexcept { return buffers_[0]; }
  // Starts planning the first transform on the workers (planning reads no samples); run()
  // keeps planning one transform ahead. Without workers, run() plans each transform when it comes
  // to it.
  void start_planning();
  // Resamples the signal to each length until `handle` returns false. Plans made for another
  // signal length, or for buffers since moved, are made again.
  void run(const ResultHandler& handle);

 private:
  struct Plans;
  // Posts the planning of the first transform still to plan from `begin` on (0: the forward
  // transform, 1 + step: each step's inverse).
  void plan_ahead(std::size_t begin);

  std::vector<std::size_t> lengths_;
  Workers workers_;
  // The signal's buffer and the one for the bins later steps need; steps alternate between
  // them.
  std::vector<double> buffers_[2];
  std::shared_ptr<Plans> plans_;
};

}  // namespace qorl_multimodal::utils::fourier_resample
