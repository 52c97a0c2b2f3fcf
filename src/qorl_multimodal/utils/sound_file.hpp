// libsndfile on in-memory audio files: header reads, full decodes, FLAC encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qorl_multimodal::utils::sound_file {

// A failure reported by libsndfile (unknown or damaged container, failed encode).
class SoundFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Info {
  std::int64_t frames = 0;
  int sample_rate = 0;
  int channels = 0;
  int format = 0;  // libsndfile's SF_FORMAT_* bits
};

// An open audio file: in memory (`file` must outlive the reader), or on disk, read from there a
// block at a time.
class Reader {
 public:
  explicit Reader(std::string_view file);
  // A file on disk.
  static std::unique_ptr<Reader> from_disk(const std::filesystem::path& file);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  const Info& info() const noexcept { return info_; }
  // Reads up to `frames` interleaved frames into `block`; 0 at the end. A decoding error
  // throws instead of ending the stream early.
  std::int64_t read(double* block, std::int64_t frames);

 private:
  Reader() = default;

  struct Source;
  std::unique_ptr<Source> source_;
  void* handle_ = nullptr;
  Info info_;
};

// A recording read from its start on each pass over it, where it is: bytes in memory (which must
// outlive it) or a file on disk, never loaded whole.
class Recording {
 public:
  explicit Recording(std::string_view bytes) : where_(bytes) {}
  explicit Recording(std::filesystem::path file) : where_(std::move(file)) {}
  std::unique_ptr<Reader> open() const;
  // Its header (nothing is decoded); none when libsndfile cannot open it.
  std::optional<Info> info() const;

 private:
  std::variant<std::string_view, std::filesystem::path> where_;
};

// The short lower-case name of a container ("wav", "flac", "ogg", "mp3", ...), none for a
// container without a known name.
std::optional<std::string> format_name(int format);

// Frames read per block by the whole-file operations.
inline constexpr std::int64_t kBlockFrames = 16384;

// Writes the mean of each of `count` interleaved frames of `channels` values to `out`.
void mix_to_mono(const double* frames, std::int64_t count, int channels, double* out);

struct MonoAudio {
  std::vector<double> samples;
  int sample_rate = 0;
};

// The frame count the header gives, as memory to reserve: it is a hint (MP3 gives an estimate,
// a damaged header anything), bounded so that a false count cannot claim unbounded memory.
std::size_t expected_frames(const Reader& reader);

// Decodes every frame into one channel, each frame the mean of its channel values, without
// holding the other channels. `spare` extra values of capacity are reserved for the caller.
MonoAudio decode_mono(std::string_view file, std::size_t spare = 0);
// The same from an open reader, appended to `samples` (whose reserved memory it uses first).
void decode_mono(Reader& reader, std::vector<double>& samples);

enum class Subtype { PCM_16, PCM_24 };

// A FLAC file being written to memory, block by block.
class FlacWriter {
 public:
  // `size_hint`: bytes to reserve for the file (an upper estimate avoids regrowing it).
  FlacWriter(int sample_rate, int channels, Subtype subtype, std::size_t size_hint = 0);
  ~FlacWriter();
  FlacWriter(const FlacWriter&) = delete;
  FlacWriter& operator=(const FlacWriter&) = delete;

  // Interleaved frames; doubles beyond -1..1 are clipped.
  void write(const double* samples, std::int64_t frames);
  void write(const std::int16_t* samples, std::int64_t frames);
  // Bytes written so far; the finished file is at least this large.
  std::size_t size() const noexcept;
  // Completes the file and hands over its bytes.
  std::string finish();

 private:
  struct Sink;
  std::unique_ptr<Sink> sink_;
  void* handle_ = nullptr;
};

}  // namespace qorl_multimodal::utils::sound_file
