#include "qorl_multimodal/utils/audio_chunking.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/deferred.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/experimental/parallel_group.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/utils/audio_mono_stream.hpp"

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

// The cut ending the piece that starts at `start`, from the samples from there on (more than
// `max_piece_samples` of them): the middle of the whole frame of lowest mean square between
// `window_samples` before the longest possible end and that end, else that end.
std::size_t next_cut(std::span<const double> from_start, std::size_t start,
                     std::size_t max_piece_samples, std::size_t window_samples,
                     std::size_t frame_samples) {
  const std::size_t latest = start + max_piece_samples;
  const std::size_t first_frame = (latest - window_samples + frame_samples - 1) / frame_samples;
  const std::size_t end_frame = latest / frame_samples;
  if (first_frame >= end_frame) return latest;
  std::size_t quietest = first_frame;
  double lowest = 0.0;
  for (std::size_t f = first_frame; f < end_frame; ++f) {
    double sum = 0.0;
    for (std::size_t i = f * frame_samples; i < (f + 1) * frame_samples; ++i) {
      sum += from_start[i - start] * from_start[i - start];
    }
    const double energy = sum / static_cast<double>(frame_samples);
    if (f == first_frame || energy < lowest) {
      lowest = energy;
      quietest = f;
    }
  }
  return quietest * frame_samples + frame_samples / 2;
}

}  // namespace

std::vector<std::size_t> choose_cuts(const std::vector<double>& samples,
                                     std::size_t max_piece_samples, std::size_t window_samples,
                                     std::size_t frame_samples) {
  // Never search more than half a piece back, so every piece keeps progressing.
  window_samples = std::min(window_samples, max_piece_samples / 2);
  std::vector<std::size_t> cuts;
  std::size_t start = 0;
  while (samples.size() - start > max_piece_samples) {
    start = next_cut(std::span(samples).subspan(start), start, max_piece_samples, window_samples,
                     frame_samples);
    cuts.push_back(start);
  }
  return cuts;
}

struct PieceMaker::Stream {
  Stream(const sound_file::Recording& recording, int rate)
      : reader(recording.open()), mono(*reader, rate) {}
  std::unique_ptr<sound_file::Reader> reader;
  audio_mono_stream::MonoStream mono;
};

PieceMaker::PieceMaker(sound_file::Recording recording, const SplitOptions& options)
    : recording_(std::move(recording)),
      rate_(options.sample_rate),
      max_bytes_(options.max_bytes),
      // Cheaper than a trial encoding: audio whose raw samples fit surely fits as FLAC.
      max_piece_samples_(
          static_cast<std::size_t>(static_cast<double>(options.max_bytes) / (2 * kFlacOverhead))),
      window_samples_(std::min(static_cast<std::size_t>(options.search_window * rate_),
                               max_piece_samples_ / 2)),
      frame_samples_(std::max<std::size_t>(1, static_cast<std::size_t>(options.frame * rate_))) {
  if (max_piece_samples_ < static_cast<std::size_t>(rate_)) {
    throw qorl_core::ValueError("The size limit of " + std::to_string(options.max_bytes) +
                                " bytes cannot hold one second of audio");
  }
}

PieceMaker::~PieceMaker() = default;

std::optional<Piece> PieceMaker::next() {
  if (done_) return std::nullopt;
  if (!started_) {
    started_ = true;
    if (std::optional<Piece> whole = whole_piece()) {
      done_ = true;
      return whole;
    }
    stream_ = std::make_unique<Stream>(recording_, rate_);
    samples_.reserve(max_piece_samples_ + 1);
  }
  // Enough samples to tell whether the rest fits one piece.
  while (samples_.size() <= max_piece_samples_ &&
         stream_->mono.read(samples_, max_piece_samples_ + 1 - samples_.size()) > 0) {
  }
  if (samples_.size() <= max_piece_samples_) {
    done_ = true;
    stream_.reset();
    return piece_of(samples_.size());
  }
  const std::size_t cut =
      next_cut(samples_, start_, max_piece_samples_, window_samples_, frame_samples_);
  Piece piece = piece_of(cut - start_);
  samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(cut - start_));
  start_ = cut;
  return piece;
}

std::optional<Piece> PieceMaker::whole_piece() {
  Stream stream(recording_, rate_);
  sound_file::FlacWriter writer(rate_, 1, sound_file::Subtype::PCM_16, max_bytes_);
  std::vector<double> block;
  block.reserve(static_cast<std::size_t>(sound_file::kBlockFrames));
  std::size_t total = 0;
  // A recording whose raw samples fit goes whole whatever its FLAC's size; another only when
  // its FLAC fits, which is known to fail as soon as the FLAC outgrows the limit.
  const auto too_large = [&](std::size_t flac_size) {
    return total > max_piece_samples_ && flac_size > max_bytes_;
  };
  for (;;) {
    block.clear();
    const std::size_t n =
        stream.mono.read(block, static_cast<std::size_t>(sound_file::kBlockFrames));
    if (n == 0) break;
    writer.write(block.data(), static_cast<std::int64_t>(n));
    total += n;
    if (too_large(writer.size())) return std::nullopt;
  }
  std::string flac = writer.finish();
  if (too_large(flac.size())) return std::nullopt;
  return Piece{qorl_core::Bytes(std::move(flac)), 0.0, static_cast<double>(total) / rate_};
}

Piece PieceMaker::piece_of(std::size_t count) const {
  return Piece{encode_flac(samples_.data(), count, rate_), static_cast<double>(start_) / rate_,
               static_cast<double>(count) / rate_};
}

std::vector<Piece> split_audio(std::string_view file, const SplitOptions& options) {
  PieceMaker maker(sound_file::Recording(file), options);
  std::vector<Piece> pieces;
  while (std::optional<Piece> piece = maker.next()) pieces.push_back(std::move(*piece));
  return pieces;
}

asio::awaitable<std::vector<AudioTranscript>> transcribe_pieces(NextPiece next,
                                                                std::size_t max_concurrent,
                                                                std::optional<std::string> prompt,
                                                                TranscribePiece transcribe) {
  struct Numbered {
    std::size_t index = 0;
    Piece piece;
  };
  // The maker and the workers share this state on one strand. The channel holds no piece: one
  // made waits in the maker until a worker is free.
  std::vector<std::optional<std::vector<AudioTranscript>>> results;
  const auto strand = asio::make_strand(co_await asio::this_coro::executor);
  asio::experimental::channel<void(boost::system::error_code, Numbered)> pieces(strand, 0);
  const auto maker = [&]() -> asio::awaitable<void> {
    for (;;) {
      std::optional<Piece> piece = co_await next();
      if (!piece) break;
      results.emplace_back();
      Numbered numbered{results.size() - 1, std::move(*piece)};
      auto send =
          pieces.async_send(boost::system::error_code{}, std::move(numbered), asio::use_awaitable);
      co_await std::move(send);
    }
    pieces.close();
  };
  const auto worker = [&]() -> asio::awaitable<void> {
    const auto receive = asio::as_tuple(asio::use_awaitable);
    for (;;) {
      auto [closed, numbered] = co_await pieces.async_receive(receive);
      if (closed) co_return;
      const std::size_t i = numbered.index;
      std::optional<std::string> piece_prompt = prompt;
      if (i > 0 && results[i - 1] && !results[i - 1]->empty()) {
        piece_prompt = results[i - 1]->back().text;
      }
      const double offset = numbered.piece.offset;
      std::vector<AudioTranscript> records =
          co_await transcribe(std::move(numbered.piece), std::move(piece_prompt));
      for (AudioTranscript& record : records) {
        record.start_time += offset;
        record.end_time += offset;
      }
      results[i] = std::move(records);
    }
  };
  using Operation = decltype(asio::co_spawn(strand, worker(), asio::deferred));
  std::vector<Operation> tasks;
  tasks.push_back(asio::co_spawn(strand, maker(), asio::deferred));
  for (std::size_t w = 0; w < std::max<std::size_t>(max_concurrent, 1); ++w) {
    tasks.push_back(asio::co_spawn(strand, worker(), asio::deferred));
  }
  auto group = asio::experimental::make_parallel_group(std::move(tasks));
  auto outcome =
      co_await group.async_wait(asio::experimental::wait_for_one_error(), asio::use_awaitable);
  const auto& [order, errors] = outcome;
  for (const std::size_t t : order) {
    if (errors[t]) std::rethrow_exception(errors[t]);
  }
  std::vector<AudioTranscript> transcript;
  for (auto& records : results) {
    for (AudioTranscript& record : *records) transcript.push_back(std::move(record));
  }
  co_return transcript;
}

}  // namespace qorl_multimodal::utils::audio_chunking
