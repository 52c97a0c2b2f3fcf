// Fourier-method resampling on FFTW: transform the whole signal, shorten or zero-extend its
// spectrum, transform back scaled for the new length.
#pragma once

#include <cstddef>
#include <functional>
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

}  // namespace qorl_multimodal::utils::fourier_resample
