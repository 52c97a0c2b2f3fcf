#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <set>

#include "qorl_core/errors.hpp"
#include "qorl_core/files.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_sources.hpp"
#include "qorl_multimodal/utils/audio_chunking.hpp"
#include "qorl_multimodal/utils/audio_size_reduction.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/language_names.hpp"
#include "qorl_multimodal/utils/repetition_check.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text {

using qorl_core::Bytes;

const std::map<std::string, std::string> AUDIO_FORMAT_TO_MIME_TYPE = {
    {"mp3", "audio/mpeg"},  {"mpeg", "audio/mpeg"}, {"mpga", "audio/mpeg"},
    {"m4a", "audio/mp4"},   {"wav", "audio/wav"},   {"wave", "audio/wav"},
    {"flac", "audio/flac"}, {"ogg", "audio/ogg"},   {"oga", "audio/ogg"}};

const std::vector<QualityStep> QUALITY_STEPS = {
    {16000, 1, 16}, {8000, 1, 16}, {4000, 1, 16}, {2000, 1, 16}};

namespace {

constexpr double kMegabyte = 1048576.0;
constexpr double kGibibyte = 1073741824.0;

// What the size reduction holds for each frame at the highest rate it works at: the decoded
// sample (8 bytes) and its place in the spectrum's working buffers and the FLAC encodings,
// measured at about as much again.
constexpr double kReductionBytesPerFrame = 16.0;

std::string megabytes(std::size_t bytes) { return fmt::format("{:.2f}", bytes / kMegabyte); }

// Lower-cased, then stripped of dots at both ends: ".MP3" -> "mp3".
std::string normalise_format(const std::string& format) {
  return std::string(qorl_core::trim(qorl_core::ascii_lower(format), "."));
}

clients::openai::ClientOptions client_options(const OpenAIWhisperAudioToText::Params& params) {
  clients::openai::ClientOptions options;
  options.api_key = params.api_key;
  qorl_core::redaction::register_secret(params.api_key);  // services echo it in error texts
  options.base_url = params.base_url;
  return options;
}

// The services and models, as "<base URL> <model>", that refused verbose_json or timestamp
// granularities in this process: they are asked with json from then on.
class TimestampRefusals {
 public:
  bool contains(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return keys_.count(key) > 0;
  }
  // False when the key was known already.
  bool add(const std::string& key) {
    std::lock_guard lock(mutex_);
    return keys_.insert(key).second;
  }

 private:
  mutable std::mutex mutex_;
  std::set<std::string> keys_;
};

TimestampRefusals& timestamp_refusals() {
  static TimestampRefusals refusals;
  return refusals;
}

// The length of the audio file sent, when libsndfile reads its header.
std::optional<double> audio_seconds(std::string_view audio) {
  try {
    const utils::sound_file::Info info = utils::sound_file::Reader(audio).info();
    if (info.sample_rate > 0) return static_cast<double>(info.frames) / info.sample_rate;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

}  // namespace

OpenAIWhisperAudioToText::OpenAIWhisperAudioToText(Params params)
    : client(client_options(params)),
      model(std::move(params.model)),
      language(std::move(params.language)),
      prompt(std::move(params.prompt)),
      temperature(params.temperature),
      timestamp_granularity(std::move(params.timestamp_granularity)),
      proxy(std::move(params.proxy)),
      chunk_long_audio(params.chunk_long_audio),
      max_concurrent_pieces(params.max_concurrent_pieces),
      service_model_(
          clients::openai::resolved_base_url({.api_key = {}, .base_url = params.base_url}) + " " +
          model) {
  for (std::string& format :
       params.skip_conversion_for_formats.value_or(std::vector<std::string>{})) {
    skip_conversion_for_formats.push_back(normalise_format(std::move(format)));
  }
}

boost::asio::awaitable<std::vector<AudioTranscript>> OpenAIWhisperAudioToText::convert(
    std::string audio_source) {
  if (chunk_long_audio) {
    auto audio = co_await audio_sources::locate_audio_source(logger(), audio_source, proxy);
    co_return co_await _transcribe_long_audio_file(std::move(audio));
  }
  // A local file too long to reduce is refused before it is read.
  if (const auto header = utils::audio_to_text_utils::probe_audio_file(audio_source);
      header && !_skips_conversion(utils::sound_file::format_name(header->format))) {
    _refuse_reduction_beyond_memory(header);
  }
  const Bytes audio = co_await audio_sources::read_audio_source(logger(), audio_source, proxy);
  co_return co_await _transcribe_audio_file(audio);
}

bool OpenAIWhisperAudioToText::_skips_conversion(
    const std::optional<std::string>& audio_format) const {
  return audio_format && !audio_format->empty() &&
         std::find(skip_conversion_for_formats.begin(), skip_conversion_for_formats.end(),
                   *audio_format) != skip_conversion_for_formats.end();
}

void OpenAIWhisperAudioToText::_refuse_reduction_beyond_memory(
    const std::optional<utils::sound_file::Info>& header) const {
  if (!header || header->frames <= 0 || header->sample_rate <= 0) return;
  const auto frames = static_cast<double>(header->frames);
  // The first step resamples to 16 kHz: a lower rate grows there.
  const double working_frames =
      std::max(frames, frames * QUALITY_STEPS.front().sample_rate / header->sample_rate);
  const double needed = working_frames * kReductionBytesPerFrame;
  if (needed <= static_cast<double>(MAX_REDUCTION_MEMORY)) return;
  const auto seconds = static_cast<long long>(frames / header->sample_rate);
  throw qorl_core::ValueError(fmt::format(
      "Audio of {}:{:02}:{:02} is too long to reduce below the maximum allowed size ({} MB): "
      "that would take about {:.1f} GiB of memory, more than the {:.1f} GiB allowed. Send it in "
      "pieces instead with chunk_long_audio (the command's --chunk).",
      seconds / 3600, seconds / 60 % 60, seconds % 60, megabytes(MAX_AUDIO_SIZE),
      needed / kGibibyte, static_cast<double>(MAX_REDUCTION_MEMORY) / kGibibyte));
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_transcribe_long_audio_file(audio_sources::LocatedAudio audio) const {
  const auto* file = std::get_if<utils::audio_to_text_utils::AudioFile>(&audio);
  auto* bytes = std::get_if<Bytes>(&audio);
  const utils::sound_file::Recording given =
      file ? utils::sound_file::Recording(file->path) : utils::sound_file::Recording(bytes->view());
  const std::optional<utils::sound_file::Info> header = given.info();
  // ffmpeg's FLAC of a file stands for a container that has no format name, as for bytes.
  const std::optional<std::string> audio_format =
      bytes                         ? utils::audio_to_text_utils::detect_audio_format(*bytes)
      : header && !file->decoded_in ? utils::sound_file::format_name(header->format)
                                    : std::nullopt;
  if (_skips_conversion(audio_format)) {
    Bytes whole = bytes ? *bytes : Bytes(qorl_core::read_regular_file(file->path.string()));
    co_return co_await _transcribe_audio_file(std::move(whole));
  }
  if (header) co_return co_await _transcribe_in_pieces(given);
  // A container libsndfile cannot open: ffmpeg's FLAC of it, on disk.
  const qorl_core::TemporaryDirectory decoded("qorl-whisper");
  std::filesystem::path directory = decoded.path();
  const std::filesystem::path flac = co_await utils::audio_to_text_utils::async_decode_to_flac_file(
      std::move(*bytes), std::move(directory));
  const utils::sound_file::Recording recording(flac);
  co_return co_await _transcribe_in_pieces(recording);
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_transcribe_in_pieces(utils::sound_file::Recording recording) const {
  namespace chunking = utils::audio_chunking;
  std::optional<Bytes> whole = co_await _run_blocking([&] {
    return utils::audio_to_text_utils::convert_audio_to_mono_flac_within(recording, MAX_AUDIO_SIZE);
  });
  if (whole) co_return co_await _transcribe_piece(std::move(*whole), 0.0, prompt);
  logger().debug(
      "Audio exceeds the maximum allowed size of %d bytes as one file; sending it in "
      "pieces",
      MAX_AUDIO_SIZE);
  chunking::PieceMaker maker(recording, {.max_bytes = MAX_AUDIO_SIZE});
  chunking::NextPiece next = [&]() -> boost::asio::awaitable<std::optional<chunking::Piece>> {
    co_return co_await _run_blocking([&] { return maker.next(); });
  };
  chunking::TranscribePiece transcribe = [this](chunking::Piece piece,
                                                std::optional<std::string> piece_prompt) {
    return _transcribe_piece(std::move(piece.flac), piece.offset, std::move(piece_prompt));
  };
  auto transcription = chunking::transcribe_pieces(std::move(next), max_concurrent_pieces, prompt,
                                                   std::move(transcribe));
  co_return co_await std::move(transcription);
}

boost::asio::awaitable<std::vector<AudioTranscript>> OpenAIWhisperAudioToText::_transcribe_piece(
    Bytes flac, double offset, std::optional<std::string> piece_prompt) const {
  namespace repetition_check = utils::repetition_check;
  auto first = co_await _request_transcription(flac, "flac", "audio/flac", piece_prompt);
  const repetition_check::Repetition looped = repetition_check::measure(first);
  if (!looped.loops()) {
    logger().debug(fmt::format("Piece at {:.2f} s: {} segments", offset, first.size()));
    co_return first;
  }
  const double hotter = std::min(1.0, temperature + 0.2);
  auto second =
      co_await _request_transcription(flac, "flac", "audio/flac", std::move(piece_prompt), hotter);
  const bool keep_second = repetition_check::measure(second).better_than(looped);
  logger().debug(fmt::format(
      "Piece at {:.2f} s: {} segments repeated themselves ({} equal in a row, compression ratio "
      "{:.2f}); asked again at temperature {:.1f}, kept the {} answer ({} segments)",
      offset, first.size(), looped.longest_run, looped.compression_ratio, hotter,
      keep_second ? "second" : "first", keep_second ? second.size() : first.size()));
  co_return keep_second ? std::move(second) : std::move(first);
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_transcribe_audio_file(Bytes audio) const {
  const std::optional<std::string> audio_format =
      utils::audio_to_text_utils::detect_audio_format(audio);
  const bool should_skip_conversion = _skips_conversion(audio_format);

  Bytes to_send;
  std::string content_type;
  std::string extension;
  if (should_skip_conversion) {
    logger().debug("Skipping audio conversion for format: %s", *audio_format);
    to_send = audio;
    const auto known = AUDIO_FORMAT_TO_MIME_TYPE.find(*audio_format);
    content_type =
        known != AUDIO_FORMAT_TO_MIME_TYPE.end() ? known->second : "audio/" + *audio_format;
    extension = *audio_format;
  } else {
    _refuse_reduction_beyond_memory(utils::sound_file::Recording(audio.view()).info());
    logger().debug("Converting audio to mono FLAC format");
    to_send = co_await utils::audio_to_text_utils::async_convert_audio_to_mono_flac(
        std::move(audio), blocking_executor());
    content_type = "audio/flac";
    extension = "flac";
  }

  const std::size_t file_size = to_send.size();
  if (file_size > MAX_AUDIO_SIZE) {
    logger().debug("Audio file size %d bytes exceeds the maximum allowed size: %d bytes", file_size,
                   MAX_AUDIO_SIZE);
    if (should_skip_conversion) {
      throw qorl_core::ValueError(
          "Audio file size (" + megabytes(file_size) + " MB) exceeds the maximum allowed size (" +
          megabytes(MAX_AUDIO_SIZE) + " MB). Conversion was skipped for format '" + *audio_format +
          "' as specified in skip_conversion_for_formats. Please provide a smaller audio file or "
          "remove '" +
          *audio_format + "' from skip_conversion_for_formats to enable automatic size reduction.");
    }
    // Audio decoded through ffmpeg shows its length only now.
    _refuse_reduction_beyond_memory(utils::sound_file::Recording(to_send.view()).info());
    to_send = co_await _run_blocking([&] { return _reduce_file_size(to_send); });
  }

  co_return co_await _request_transcription(to_send, extension, content_type, prompt);
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_request_transcription(const Bytes& file, std::string extension,
                                                 std::string content_type,
                                                 std::optional<std::string> request_prompt,
                                                 std::optional<double> request_temperature) const {
  clients::openai::TranscriptionCreateParams request;
  request.file = {"audio." + extension, file.view(), content_type};
  logger().debug("Transcribing audio file: %s", request.file.filename);
  request.model = model;
  request.language = language;
  request.prompt = request_prompt;
  request.temperature = request_temperature.value_or(temperature);
  std::optional<clients::openai::Transcription> transcription;
  if (!timestamp_refusals().contains(service_model_)) {
    request.response_format = "verbose_json";
    request.timestamp_granularities = {timestamp_granularity};
    try {
      transcription = co_await client.create(request);
    } catch (const clients::openai::APIStatusError& error) {
      if (!clients::openai::refuses_timestamps(error)) throw;
      if (timestamp_refusals().add(service_model_)) {
        logger().warning(
            "Model %s takes no verbose_json or timestamp granularities: asking with json, one "
            "segment per file sent",
            model);
      }
    }
  }
  if (!transcription) {
    request.response_format = "json";
    request.timestamp_granularities.clear();
    transcription = co_await client.create(request);
  }

  const std::size_t items = (transcription->segments ? transcription->segments->size() : 0) +
                            (transcription->words ? transcription->words->size() : 0);
  logger().debug("Received transcription response with %d segments/words", items);
  std::vector<AudioTranscript> transcripts =
      _convert_whisper_response_to_audio_transcripts(*transcription);
  // Text without times (a json answer, a verbose one without segments) spans the file sent.
  if (transcripts.empty() && !qorl_core::is_blank(transcription->text)) {
    AudioTranscript whole;
    whole.text = transcription->text;
    whole.start_time = 0.0;
    whole.end_time = audio_seconds(request.file.data).value_or(transcription->duration.value_or(0));
    if (transcription->language && !transcription->language->empty()) {
      whole.lang_id = _convert_language_to_iso_639(*transcription->language);
    }
    transcripts.push_back(std::move(whole));
  }
  co_return transcripts;
}

Bytes OpenAIWhisperAudioToText::_reduce_file_size(const Bytes& audio_bytes) const {
  std::vector<int> sample_rates;
  for (const QualityStep& step : QUALITY_STEPS) sample_rates.push_back(step.sample_rate);
  auto reduced = utils::audio_size_reduction::first_accepted_flac(
      audio_bytes.view(), sample_rates,
      [this](std::size_t index, const std::string& flac) {
        const QualityStep& step = QUALITY_STEPS[index];
        logger().debug(
            "Reduced size with {'sample_rate': %d, 'channels': %d, 'bit_depth': %d}: %s MB (SR: "
            "%dHz, Ch: %d, Depth: %d-bit)",
            step.sample_rate, step.channels, step.bit_depth, megabytes(flac.size()),
            step.sample_rate, step.channels, step.bit_depth);
        return flac.size() <= MAX_AUDIO_SIZE;
      },
      blocking_executor());
  if (!reduced) {
    throw qorl_core::ValueError(
        "Unable to reduce file size below limit even with lowest quality settings");
  }
  return Bytes(std::move(*reduced));
}

std::vector<AudioTranscript>
OpenAIWhisperAudioToText::_convert_whisper_response_to_audio_transcripts(
    const clients::openai::Transcription& transcription) const {
  std::optional<std::string> lang_id;
  if (transcription.language && !transcription.language->empty()) {
    lang_id = _convert_language_to_iso_639(*transcription.language);
  }
  std::vector<AudioTranscript> transcripts;
  const auto add = [&](const std::string& text, double start, double end) {
    AudioTranscript record;
    record.text = text;
    record.start_time = start;
    record.end_time = end;
    record.lang_id = lang_id;
    transcripts.push_back(std::move(record));
  };
  if (transcription.segments) {
    for (const auto& segment : *transcription.segments)
      add(segment.text, segment.start, segment.end);
  }
  if (transcription.words) {
    for (const auto& word : *transcription.words) add(word.word, word.start, word.end);
  }
  return transcripts;
}

std::optional<std::string> OpenAIWhisperAudioToText::_convert_language_to_iso_639(
    const std::string& language) const {
  std::optional<std::string> code = utils::language_names::iso_639_code(language);
  // Compatible servers (vLLM) report the code itself.
  if (!code && language.size() <= 3) code = utils::language_names::language_of_tag(language);
  if (!code) logger().debug("Failed to convert language: %s to ISO 639 code", language);
  return code;
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text
