// Long audio in pieces that each fit a transcription service's size limit, cut in silence,
// transcribed concurrently and put back together on one time line.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_multimodal::utils::audio_chunking {

using modality_converter::schema::audio_transcript::AudioTranscript;

struct Piece {
  qorl_core::Bytes flac;  // mono, 16-bit samples
  double offset = 0.0;    // seconds from the start of the whole recording
  double duration = 0.0;  // seconds
};

struct SplitOptions {
  std::size_t max_bytes = 0;  // every piece's FLAC file is at most this large
  int sample_rate = 16000;
  // Each cut is placed in the quietest frame of this many seconds before the longest cut allowed.
  double search_window = 30.0;
  double frame = 0.02;  // seconds of one short-term energy frame
};

// Start positions (in samples) of the pieces after the first: each piece holds at most
// `max_piece_samples`, and ends in the middle of the frame of lowest energy among those that
// lie within `window_samples` before its longest possible end.
std::vector<std::size_t> choose_cuts(const std::vector<double>& samples,
                                     std::size_t max_piece_samples, std::size_t window_samples,
                                     std::size_t frame_samples);

// Splits mono audio (any file libsndfile reads; other rates are resampled) into FLAC pieces at
// `sample_rate`. A recording whose FLAC fits is one piece. Throws ValueError when max_bytes
// cannot hold even a second of audio.
std::vector<Piece> split_audio(std::string_view file, const SplitOptions& options);

// Transcribes one piece with the given prompt.
using TranscribePiece = std::function<boost::asio::awaitable<std::vector<AudioTranscript>>(
    const Piece& piece, std::optional<std::string> prompt)>;

// Transcribes the pieces with at most `max_concurrent` requests in flight and returns their
// records in piece order, each time shifted by its piece's offset. The first piece gets
// `prompt`; a later piece gets the last text of the piece before it when that piece has been
// transcribed by the time it is sent (always so when max_concurrent is 1), else `prompt`.
// The first failure cancels the other requests and is rethrown.
boost::asio::awaitable<std::vector<AudioTranscript>> transcribe_pieces(
    const std::vector<Piece>& pieces, std::size_t max_concurrent, std::optional<std::string> prompt,
    TranscribePiece transcribe);

}  // namespace qorl_multimodal::utils::audio_chunking
