// An audio to text converter using OpenAI Whisper.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "clients/openai/audio_transcriptions.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_sources.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text {

using schema::audio_transcript::AudioTranscript;

// The largest file sent: 25 MB of 1048576 bytes.
inline constexpr std::size_t MAX_AUDIO_SIZE = 26214400;

// The most memory the size reduction may take. It holds the whole recording decoded to one
// channel, with its spectrum: a recording whose header shows it would need more is refused
// before it is decoded, with a hint to send it in pieces instead (chunk_long_audio).
inline constexpr std::size_t MAX_REDUCTION_MEMORY = std::size_t{4} << 30;

// Content type of a file sent without conversion, by format name.
extern const std::map<std::string, std::string> AUDIO_FORMAT_TO_MIME_TYPE;

// One quality step of the size reduction.
struct QualityStep {
  int sample_rate;
  int channels;
  int bit_depth;
};
// Tried in this order.
extern const std::vector<QualityStep> QUALITY_STEPS;

class OpenAIWhisperAudioToText : public audio_to_text::BaseAudioToText {
 public:
  struct Params {
    std::string api_key{};
    std::string model = "whisper-1";
    std::optional<std::string> language{};
    std::optional<std::string> prompt{};
    double temperature = 0.0;
    std::string timestamp_granularity = "segment";
    // Used only for YouTube downloads, never for the transcription service.
    std::optional<std::string> proxy{};
    // Formats sent as they are ("mp3", ".MP3", ...).
    std::optional<std::vector<std::string>> skip_conversion_for_formats{};
    // The service's address; none: env OPENAI_BASE_URL, else the public service.
    std::optional<std::string> base_url{};
    // Audio whose 16 kHz mono FLAC is over MAX_AUDIO_SIZE is sent in pieces cut in silence,
    // instead of at ever lower quality; at most max_concurrent_pieces requests at a time. The
    // pieces are made while the earlier ones are sent, and a local file is read from disk a
    // block at a time: memory does not grow with the recording's length. A piece whose text
    // repeats itself is asked again once at a higher temperature.
    bool chunk_long_audio = false;
    std::size_t max_concurrent_pieces = 4;
  };

  explicit OpenAIWhisperAudioToText(Params params);

  // Convert audio to text using OpenAI Whisper. The source is tried as a file path, base64
  // text, a downloadable URL and a YouTube URL, in this order; ValueError "Unsupported audio
  // source" when none yields audio.
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override;

  clients::openai::AudioTranscriptionsClient client;
  std::string model;
  std::optional<std::string> language;
  std::optional<std::string> prompt;
  double temperature;
  std::string timestamp_granularity;
  std::optional<std::string> proxy;
  // Lower case, without leading or trailing dots.
  std::vector<std::string> skip_conversion_for_formats;
  bool chunk_long_audio;
  std::size_t max_concurrent_pieces;

 protected:
  // Transcribe the audio file using OpenAI Whisper: mono FLAC unless the format is skipped,
  // reduced when larger than MAX_AUDIO_SIZE.
  boost::asio::awaitable<std::vector<AudioTranscript>> _transcribe_audio_file(
      qorl_core::Bytes audio) const;

  // With chunk_long_audio: the audio (a file left on disk, or bytes) as one mono FLAC file
  // when it fits, else in pieces at 16 kHz; formats whose conversion is skipped go as
  // _transcribe_audio_file sends them.
  boost::asio::awaitable<std::vector<AudioTranscript>> _transcribe_long_audio_file(
      audio_sources::LocatedAudio audio) const;

  // The pieces of a recording libsndfile reads, made and sent a few at a time.
  boost::asio::awaitable<std::vector<AudioTranscript>> _transcribe_in_pieces(
      utils::sound_file::Recording recording) const;

  // One mono FLAC piece of chunked audio starting `offset` seconds in (the whole recording when
  // it fits). A piece that repeats itself (utils::repetition_check) is asked again once at a
  // temperature 0.2 higher, and the less repetitive answer is kept; the piece's debug line says so.
  boost::asio::awaitable<std::vector<AudioTranscript>> _transcribe_piece(
      qorl_core::Bytes flac, double offset, std::optional<std::string> piece_prompt) const;

  bool _skips_conversion(const std::optional<std::string>& audio_format) const;

  // ValueError, suggesting chunk_long_audio, when reducing a recording with this header would
  // take more than MAX_REDUCTION_MEMORY; nothing without a header.
  void _refuse_reduction_beyond_memory(const std::optional<utils::sound_file::Info>& header) const;

  // One request to the service (asked again with json when the model takes no verbose_json), at
  // `request_temperature` when given, else at `temperature`.
  // By reference, as the upload refers to `file` rather than copy a piece of up to 25 MiB: each
  // caller owns it in its own frame and awaits this at once.
  boost::asio::awaitable<std::vector<AudioTranscript>> _request_transcription(
      const qorl_core::Bytes& file, std::string extension, std::string content_type,
      std::optional<std::string> request_prompt,
      std::optional<double> request_temperature = std::nullopt) const;

  // Progressively reduce audio quality until file size is under limit; a FLAC file.
  qorl_core::Bytes _reduce_file_size(const qorl_core::Bytes& audio_bytes) const;

  std::vector<AudioTranscript> _convert_whisper_response_to_audio_transcripts(
      const clients::openai::Transcription& transcription) const;

  std::optional<std::string> _convert_language_to_iso_639(const std::string& language) const;

 private:
  // "<base URL> <model>": what a refusal of timestamps is remembered under.
  std::string service_model_;
};

}  // namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text
