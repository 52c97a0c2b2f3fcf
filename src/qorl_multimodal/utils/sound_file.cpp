#include "qorl_multimodal/utils/sound_file.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cstring>

namespace qorl_multimodal::utils::sound_file {

namespace {

SNDFILE* as_sndfile(void* handle) { return static_cast<SNDFILE*>(handle); }

std::string error_text(SNDFILE* file) { return sf_strerror(file); }

// libsndfile's virtual IO over memory: a read-only view, or a growing buffer being written.
struct MemoryFile {
  std::string_view view;
  std::string* buffer = nullptr;
  sf_count_t position = 0;

  std::string_view contents() const { return buffer ? std::string_view(*buffer) : view; }

  static MemoryFile& of(void* self) { return *static_cast<MemoryFile*>(self); }
  static sf_count_t length(void* self) {
    return static_cast<sf_count_t>(of(self).contents().size());
  }
  static sf_count_t seek(sf_count_t offset, int whence, void* self) {
    MemoryFile& f = of(self);
    const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f.position : length(self);
    if (base + offset < 0) return -1;
    f.position = base + offset;
    return f.position;
  }
  static sf_count_t read(void* out, sf_count_t count, void* self) {
    MemoryFile& f = of(self);
    const std::string_view data = f.contents();
    const auto size = static_cast<sf_count_t>(data.size());
    if (count <= 0 || f.position >= size) return 0;
    const sf_count_t n = std::min(count, size - f.position);
    std::memcpy(out, data.data() + f.position, static_cast<std::size_t>(n));
    f.position += n;
    return n;
  }
  static sf_count_t write(const void* in, sf_count_t count, void* self) {
    MemoryFile& f = of(self);
    if (!f.buffer || count < 0) return 0;
    std::string& buffer = *f.buffer;
    const auto position = static_cast<std::size_t>(f.position);
    const auto n = static_cast<std::size_t>(count);
    const char* data = static_cast<const char*>(in);
    // Appending (the usual case) neither zero-fills nor copies what is already written.
    if (position > buffer.size()) buffer.resize(position);
    const std::size_t overwrite = std::min(n, buffer.size() - position);
    buffer.replace(position, overwrite, data, overwrite);
    buffer.append(data + overwrite, n - overwrite);
    f.position += count;
    return count;
  }
  static sf_count_t tell(void* self) { return of(self).position; }

  static SF_VIRTUAL_IO io() { return {&length, &seek, &read, &write, &tell}; }
};

}  // namespace

// ---- reading ----------------------------------------------------------------------------

struct Reader::Source : MemoryFile {};

Reader::Reader(std::string_view file) : source_(std::make_unique<Source>()) {
  source_->view = file;
  SF_VIRTUAL_IO io = MemoryFile::io();
  SF_INFO info{};
  SNDFILE* handle = sf_open_virtual(&io, SFM_READ, &info, source_.get());
  if (!handle) throw SoundFileError("Error opening audio data: " + error_text(nullptr));
  handle_ = handle;
  info_ = Info{info.frames, info.samplerate, info.channels, info.format};
}

std::unique_ptr<Reader> Reader::from_disk(const std::filesystem::path& file) {
  SF_INFO info{};
  SNDFILE* handle = sf_open(file.c_str(), SFM_READ, &info);
  if (!handle) throw SoundFileError("Error opening audio file: " + error_text(nullptr));
  std::unique_ptr<Reader> reader(new Reader());
  reader->handle_ = handle;
  reader->info_ = Info{info.frames, info.samplerate, info.channels, info.format};
  return reader;
}

Reader::~Reader() {
  if (handle_) sf_close(as_sndfile(handle_));
}

std::int64_t Reader::read(double* block, std::int64_t frames) {
  const sf_count_t n = sf_readf_double(as_sndfile(handle_), block, frames);
  if (n < frames && sf_error(as_sndfile(handle_)) != SF_ERR_NO_ERROR) {
    throw SoundFileError("Error decoding audio data: " + error_text(as_sndfile(handle_)));
  }
  return n;
}

std::unique_ptr<Reader> Recording::open() const {
  if (const auto* file = std::get_if<std::filesystem::path>(&where_)) {
    return Reader::from_disk(*file);
  }
  return std::make_unique<Reader>(std::get<std::string_view>(where_));
}

std::optional<Info> Recording::info() const {
  try {
    return open()->info();
  } catch (const SoundFileError&) {
    return std::nullopt;
  }
}

std::optional<std::string> format_name(int format) {
  // The containers libsndfile knows, by major format.
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: return "wav";
    case SF_FORMAT_AIFF: return "aiff";
    case SF_FORMAT_AU: return "au";
    case SF_FORMAT_RAW: return "raw";
    case SF_FORMAT_PAF: return "paf";
    case SF_FORMAT_SVX: return "svx";
    case SF_FORMAT_NIST: return "nist";
    case SF_FORMAT_VOC: return "voc";
    case SF_FORMAT_IRCAM: return "ircam";
    case SF_FORMAT_W64: return "w64";
    case SF_FORMAT_MAT4: return "mat4";
    case SF_FORMAT_MAT5: return "mat5";
    case SF_FORMAT_PVF: return "pvf";
    case SF_FORMAT_XI: return "xi";
    case SF_FORMAT_HTK: return "htk";
    case SF_FORMAT_SDS: return "sds";
    case SF_FORMAT_AVR: return "avr";
    case SF_FORMAT_WAVEX: return "wavex";
    case SF_FORMAT_SD2: return "sd2";
    case SF_FORMAT_FLAC: return "flac";
    case SF_FORMAT_CAF: return "caf";
    case SF_FORMAT_WVE: return "wve";
    case SF_FORMAT_OGG: return "ogg";
    case SF_FORMAT_MPC2K: return "mpc2k";
    case SF_FORMAT_RF64: return "rf64";
    case SF_FORMAT_MPEG: return "mp3";
    default: return std::nullopt;
  }
}

void mix_to_mono(const double* frames, std::int64_t count, int channels, double* out) {
  if (channels == 1) {
    std::copy(frames, frames + count, out);
    return;
  }
  for (std::int64_t f = 0; f < count; ++f) {
    const double* frame = frames + f * channels;
    double sum = 0.0;
    for (int c = 0; c < channels; ++c) sum += frame[c];
    out[f] = sum / channels;
  }
}

std::size_t expected_frames(const Reader& reader) {
  constexpr std::int64_t kMaxExpectedFrames = std::int64_t{1} << 30;
  return static_cast<std::size_t>(
      std::clamp<std::int64_t>(reader.info().frames, 0, kMaxExpectedFrames));
}

MonoAudio decode_mono(std::string_view file, std::size_t spare) {
  Reader reader(file);
  MonoAudio audio;
  audio.sample_rate = reader.info().sample_rate;
  // Reading goes on to the end, whatever the header said.
  audio.samples.reserve(expected_frames(reader) + spare);
  decode_mono(reader, audio.samples);
  return audio;
}

void decode_mono(Reader& reader, std::vector<double>& samples) {
  const int channels = reader.info().channels;
  std::vector<double> block(static_cast<std::size_t>(kBlockFrames) * channels);
  while (const std::int64_t n = reader.read(block.data(), kBlockFrames)) {
    const std::size_t used = samples.size();
    samples.resize(used + static_cast<std::size_t>(n));
    mix_to_mono(block.data(), n, channels, samples.data() + used);
  }
}

// ---- writing ----------------------------------------------------------------------------

struct FlacWriter::Sink : MemoryFile {
  std::string bytes;
  Sink() { buffer = &bytes; }
};

FlacWriter::FlacWriter(int sample_rate, int channels, Subtype subtype, std::size_t size_hint)
    : sink_(std::make_unique<Sink>()) {
  // Untouched reserved pages cost nothing; growing by copies would.
  sink_->bytes.reserve(size_hint);
  SF_VIRTUAL_IO io = MemoryFile::io();
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = channels;
  info.format = SF_FORMAT_FLAC | (subtype == Subtype::PCM_16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
  SNDFILE* handle = sf_open_virtual(&io, SFM_WRITE, &info, sink_.get());
  if (!handle) throw SoundFileError("Error opening FLAC output: " + error_text(nullptr));
  handle_ = handle;
  // Out-of-range samples saturate instead of wrapping around.
  sf_command(handle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
}

FlacWriter::~FlacWriter() {
  if (handle_) sf_close(as_sndfile(handle_));
}

void FlacWriter::write(const double* samples, std::int64_t frames) {
  if (sf_writef_double(as_sndfile(handle_), samples, frames) != frames) {
    throw SoundFileError("Error encoding FLAC: " + error_text(as_sndfile(handle_)));
  }
}

void FlacWriter::write(const std::int16_t* samples, std::int64_t frames) {
  if (sf_writef_short(as_sndfile(handle_), samples, frames) != frames) {
    throw SoundFileError("Error encoding FLAC: " + error_text(as_sndfile(handle_)));
  }
}

std::size_t FlacWriter::size() const noexcept { return sink_->bytes.size(); }

std::string FlacWriter::finish() {
  const int status = sf_close(as_sndfile(handle_));
  handle_ = nullptr;
  if (status != 0) {
    throw SoundFileError("Error encoding FLAC: " + std::string(sf_error_number(status)));
  }
  return std::move(sink_->bytes);
}

}  // namespace qorl_multimodal::utils::sound_file
