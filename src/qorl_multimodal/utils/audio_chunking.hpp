// Long audio in pieces that each fit a transcription service's size limit, cut in silence,
// transcribed concurrently and put back together on one time line. The recording is read a
// block at a time: memory does not grow with its length.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"

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

// The pieces of a recording (any file libsndfile reads; mixed to one channel, other rates
// resampled) as FLAC files at `sample_rate`, made one at a time, with the cuts of choose_cuts.
// A recording whose FLAC fits is one piece. Holds the samples of one piece at most.
class PieceMaker {
 public:
  // Throws ValueError when max_bytes cannot hold even a second of audio.
  PieceMaker(sound_file::Recording recording, const SplitOptions& options);
  ~PieceMaker();
  PieceMaker(const PieceMaker&) = delete;
  PieceMaker& operator=(const PieceMaker&) = delete;

  // The next piece; none after the last.
  std::optional<Piece> next();

 private:
  struct Stream;
  // The recording as one piece when that is how it goes, else none.
  std::optional<Piece> whole_piece();
  Piece piece_of(std::size_t count) const;

  sound_file::Recording recording_;
  int rate_;
  std::size_t max_bytes_;
  std::size_t max_piece_samples_;
  std::size_t window_samples_;
  std::size_t frame_samples_;
  std::unique_ptr<Stream> stream_;
  bool started_ = false;
  bool done_ = false;
  // The samples from start_ on, of the piece being cut.
  std::vector<double> samples_;
  std::size_t start_ = 0;
};

// Every piece of `file` (bytes in memory) at once.
std::vector<Piece> split_audio(std::string_view file, const SplitOptions& options);

// Makes the next piece; none after the last.
using NextPiece = std::function<boost::asio::awaitable<std::optional<Piece>>()>;

// Transcribes one piece with the given prompt; the piece is handed over, so that its FLAC file
// can go to the request without a copy.
using TranscribePiece = std::function<boost::asio::awaitable<std::vector<AudioTranscript>>(
    Piece piece, std::optional<std::string> prompt)>;

// Transcribes the pieces `next` makes, while it makes the later ones, with at most
// `max_concurrent` requests in flight (and one piece more made and waiting for a request), and
// returns their records in piece order, each time shifted by its piece's offset. The first piece
// gets `prompt`; a later piece gets the last text of the piece before it when that piece has
// been transcribed by the time it is sent (always so when max_concurrent is 1), else `prompt`.
// The first failure, of a request or of making a piece, cancels the rest and is rethrown.
boost::asio::awaitable<std::vector<AudioTranscript>> transcribe_pieces(
    NextPiece next, std::size_t max_concurrent, std::optional<std::string> prompt,
    TranscribePiece transcribe);

}  // namespace qorl_multimodal::utils::audio_chunking
