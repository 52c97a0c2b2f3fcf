// Fourier-method resampling on FFTW: transform the whole signal, shorten or zero-extend its
// spectrum, transform back scaled for the new length.
#pragma once

#include <cstddef>
#include <vector>

namespace qorl_multimodal::utils::fourier_resample {

// Replaces `samples` (one channel) by exactly `num` samples. Downsampling works in place in the
// vector's memory (give it capacity for two more values to avoid a copy). The frequency at
// half the shorter length is doubled when shortening and halved when extending, as
// SciPy's resample does for real signals.
void resample(std::vector<double>& samples, std::size_t num);

}  // namespace qorl_multimodal::utils::fourier_resample
