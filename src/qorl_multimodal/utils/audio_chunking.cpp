#include "qorl_multimodal/utils/audio_chunking.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/utils/fourier_resample.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"

namespace qorl_multimodal::utils::audio_chunking {

namespace {

namespace asio = boost::asio;

// FLAC stores a 16-bit mono sample in at most 2 bytes plus its frame headers; this margin keeps
// a piece planned from the raw size under the limit.
constexpr double kFlacOverhead = 1.02;

qorl_core::Bytes encode_flac(const double* samples, std::size_t count, int sample_rate) {
  sound_file::FlacWriter writer(sample_rate, 1, sound_file::Subtype::PCM_16, count * 2);
  writer.write(samples, static_cast<std::int64_t>(count));
  return qorl_core::Bytes(writer.finish());
}

// Mean square of each whole frame.
std::vector<double> frame_energies(const std::vector<double>& samples, std::size_t frame) {
  std::vector<double> energies(samples.size() / frame);
  for (std::size_t f = 0; f < energies.size(); ++f) {
    double sum = 0.0;
    for (std::size_t i = f * frame; i < (f + 1) * frame; ++i) sum += samples[i] * samples[i];
    energies[f] = sum / static_cast<double>(frame);
  }
  return energies;
}

}  // namespace

std::vector<std::size_t> choose_cuts(const std::vector<double>& samples,
                                     std::size_t max_piece_samples, std::size_t window_samples,
                                     std::size_t frame_samples) {
  const std::vector<double> energies = frame_energies(samples, frame_samples);
  // Never search more than half a piece back, so every piece keeps progressing.
  window_samples = std::min(window_samples, max_piece_samples / 2);
  std::vector<std::size_t> cuts;
  std::size_t start = 0;
  while (samples.size() - start > max_piece_samples) {
    const std::size_t latest = start + max_piece_samples;
    // Whole frames between latest - window and latest.
    const std::size_t first_frame = (latest - window_samples + frame_samples - 1) / frame_samples;
    const std::size_t end_frame = latest / frame_samples;
    std::size_t cut = latest;
    if (first_frame < end_frame) {
      const auto quietest =
          std::min_element(energies.begin() + first_frame, energies.begin() + end_frame);
      const auto frame = static_cast<std::size_t>(quietest - energies.begin());
      cut = frame * frame_samples + frame_samples / 2;
    }
    cuts.push_back(cut);
    start = cut;
  }
  return cuts;
}

std::vector<Piece> split_audio(std::string_view file, const SplitOptions& options) {
  sound_file::MonoAudio audio = sound_file::decode_mono(file, 2);
  std::vector<double>& samples = audio.samples;
  if (audio.sample_rate != options.sample_rate) {
    const auto count = static_cast<std::size_t>(static_cast<double>(samples.size()) *
                                                options.sample_rate / audio.sample_rate);
    fourier_resample::resample(samples, count);
  }
  const int rate = options.sample_rate;
  const auto piece_of = [&](std::size_t begin, std::size_t end) {
    return Piece{encode_flac(samples.data() + begin, end - begin, rate),
                 static_cast<double>(begin) / rate, static_cast<double>(end - begin) / rate};
  };

  // Cheaper than a trial encoding: audio whose raw samples fit surely fits as FLAC.
  const auto max_piece_samples =
      static_cast<std::size_t>(static_cast<double>(options.max_bytes) / (2 * kFlacOverhead));
  if (max_piece_samples < static_cast<std::size_t>(rate)) {
    throw qorl_core::ValueError("The size limit of " + std::to_string(options.max_bytes) +
                                " bytes cannot hold one second of audio");
  }
  if (samples.size() > max_piece_samples) {
    Piece whole = piece_of(0, samples.size());
    if (whole.flac.size() <= options.max_bytes) return {std::move(whole)};
  } else {
    return {piece_of(0, samples.size())};
  }

  const auto frame = std::max<std::size_t>(1, static_cast<std::size_t>(options.frame * rate));
  const auto window = static_cast<std::size_t>(options.search_window * rate);
  std::vector<std::size_t> bounds = choose_cuts(samples, max_piece_samples, window, frame);
  bounds.insert(bounds.begin(), 0);
  bounds.push_back(samples.size());
  std::vector<Piece> pieces;
  pieces.reserve(bounds.size() - 1);
  for (std::size_t i = 0; i + 1 < bounds.size(); ++i) {
    pieces.push_back(piece_of(bounds[i], bounds[i + 1]));
  }
  return pieces;
}

asio::awaitable<std::vector<AudioTranscript>> transcribe_pieces(const std::vector<Piece>& pieces,
                                                                std::size_t max_concurrent,
                                                                std::optional<std::string> prompt,
                                                                TranscribePiece transcribe) {
  // The workers share this state on one strand.
  std::vector<std::optional<std::vector<AudioTranscript>>> results(pieces.size());
  std::size_t next = 0;
  const auto strand = asio::make_strand(co_await asio::this_coro::executor);
  const auto worker = [&]() -> asio::awaitable<void> {
    while (next < pieces.size()) {
      const std::size_t i = next++;
      std::optional<std::string> piece_prompt = prompt;
      if (i > 0 && results[i - 1] && !results[i - 1]->empty()) {
        piece_prompt = results[i - 1]->back().text;
      }
      std::vector<AudioTranscript> records = co_await transcribe(pieces[i], piece_prompt);
      for (AudioTranscript& record : records) {
        record.start_time += pieces[i].offset;
        record.end_time += pieces[i].offset;
      }
      results[i] = std::move(records);
    }
  };
  using Operation = decltype(asio::co_spawn(strand, worker(), asio::deferred));
  std::vector<Operation> workers;
  const std::size_t count =
      std::clamp<std::size_t>(max_concurrent, 1, std::max<std::size_t>(pieces.size(), 1));
  for (std::size_t w = 0; w < count; ++w) {
    workers.push_back(asio::co_spawn(strand, worker(), asio::deferred));
  }
  auto group = asio::experimental::make_parallel_group(std::move(workers));
  auto outcome =
      co_await group.async_wait(asio::experimental::wait_for_one_error(), asio::use_awaitable);
  const auto& [order, errors] = outcome;
  for (const std::size_t w : order) {
    if (errors[w]) std::rethrow_exception(errors[w]);
  }
  std::vector<AudioTranscript> transcript;
  for (auto& records : results) {
    for (AudioTranscript& record : *records) transcript.push_back(std::move(record));
  }
  co_return transcript;
}

}  // namespace qorl_multimodal::utils::audio_chunking
