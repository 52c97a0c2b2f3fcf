#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/audio_sources.hpp"
#include "qorl_multimodal/utils/audio_chunking.hpp"
#include "qorl_multimodal/utils/audio_size_reduction.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/language_names.hpp"

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
      max_concurrent_pieces(params.max_concurrent_pieces) {
  for (std::string& format :
       params.skip_conversion_for_formats.value_or(std::vector<std::string>{})) {
    skip_conversion_for_formats.push_back(normalise_format(std::move(format)));
  }
}

boost::asio::awaitable<std::vector<AudioTranscript>> OpenAIWhisperAudioToText::convert(
    std::string audio_source) {
  const Bytes audio = co_await audio_sources::read_audio_source(logger(), audio_source, proxy);
  if (chunk_long_audio) co_return co_await _transcribe_long_audio_file(audio);
  co_return co_await _transcribe_audio_file(audio);
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_transcribe_long_audio_file(const Bytes& audio) const {
  const std::optional<std::string> audio_format =
      utils::audio_to_text_utils::detect_audio_format(audio);
  if (audio_format &&
      std::find(skip_conversion_for_formats.begin(), skip_conversion_for_formats.end(),
                *audio_format) != skip_conversion_for_formats.end()) {
    co_return co_await _transcribe_audio_file(audio);
  }
  Bytes flac = co_await utils::audio_to_text_utils::async_convert_audio_to_mono_flac(
      audio, blocking_executor());
  if (flac.size() <= MAX_AUDIO_SIZE) {
    co_return co_await _request_transcription(std::move(flac), "flac", "audio/flac", prompt);
  }
  const std::vector<utils::audio_chunking::Piece> pieces = co_await _run_blocking([&] {
    return utils::audio_chunking::split_audio(flac.view(), {.max_bytes = MAX_AUDIO_SIZE});
  });
  logger().debug("Audio file size %d bytes exceeds the maximum allowed size; sending %d pieces",
                 flac.size(), pieces.size());
  co_return co_await utils::audio_chunking::transcribe_pieces(
      pieces, max_concurrent_pieces, prompt,
      [this](const utils::audio_chunking::Piece& piece, std::optional<std::string> piece_prompt)
          -> boost::asio::awaitable<std::vector<AudioTranscript>> {
        co_return co_await _request_transcription(piece.flac, "flac", "audio/flac", piece_prompt);
      });
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_transcribe_audio_file(Bytes audio) const {
  const std::optional<std::string> audio_format =
      utils::audio_to_text_utils::detect_audio_format(audio);
  const bool should_skip_conversion =
      audio_format && !audio_format->empty() &&
      std::find(skip_conversion_for_formats.begin(), skip_conversion_for_formats.end(),
                *audio_format) != skip_conversion_for_formats.end();

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
    logger().debug("Converting audio to mono FLAC format");
    to_send = co_await utils::audio_to_text_utils::async_convert_audio_to_mono_flac(
        audio, blocking_executor());
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
    to_send = co_await _run_blocking([&] { return _reduce_file_size(to_send); });
  }

  co_return co_await _request_transcription(std::move(to_send), extension, content_type, prompt);
}

boost::asio::awaitable<std::vector<AudioTranscript>>
OpenAIWhisperAudioToText::_request_transcription(Bytes file, std::string extension,
                                                 std::string content_type,
                                                 std::optional<std::string> request_prompt) const {
  clients::openai::TranscriptionCreateParams request;
  request.file = {"audio." + extension, std::move(file.str()), content_type};
  logger().debug("Transcribing audio file: %s", request.file.filename);
  request.model = model;
  request.language = language;
  request.prompt = request_prompt;
  request.response_format = "verbose_json";
  request.temperature = temperature;
  request.timestamp_granularities = {timestamp_granularity};
  const clients::openai::Transcription transcription = co_await client.create(request);

  const std::size_t items = (transcription.segments ? transcription.segments->size() : 0) +
                            (transcription.words ? transcription.words->size() : 0);
  logger().debug("Received transcription response with %d segments/words", items);
  co_return _convert_whisper_response_to_audio_transcripts(transcription);
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
  if (!code) logger().debug("Failed to convert language: %s to ISO 639 code", language);
  return code;
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text
