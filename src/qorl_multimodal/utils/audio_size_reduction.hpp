// Smaller FLAC encodings of a recording: one channel, 16 bits, at falling sample rates.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qorl_multimodal/utils/fourier_resample.hpp"

namespace qorl_multimodal::utils::audio_size_reduction {

// Takes one encoding (the index of its sample rate and the FLAC file); true accepts it.
using Acceptor = std::function<bool(std::size_t, const std::string&)>;

// Decodes `audio` (any container libsndfile reads), mixes it to one channel and encodes it as
// 16-bit FLAC at each of `sample_rates` in turn, Fourier-resampled from the rate before, until
// `accept` takes an encoding; that one, or none. Samples are scaled to 16 bits and truncated
// toward zero, saturating where resampling overshoots -1..1. With `workers` (the executor for
// blocking work), the transforms are planned while the audio decodes and shared with them.
std::optional<std::string> first_accepted_flac(
    std::string_view audio, std::span<const int> sample_rates, const Acceptor& accept,
    const fourier_resample::Workers& workers = std::nullopt);

}  // namespace qorl_multimodal::utils::audio_size_reduction
