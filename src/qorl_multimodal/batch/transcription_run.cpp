#include "qorl_multimodal/batch/transcription_run.hpp"

#include <algorithm>

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/batch/converter_run.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/google_cloud_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"
#include "qorl_multimodal/utils/segment_times.hpp"

namespace qorl_multimodal::batch::transcription_run {

qorl_core::Value transcript_records(const std::vector<AudioTranscript>& segments) {
  qorl_core::List records;
  for (const auto& segment : segments) records.emplace_back(segment.to_map());
  return records;
}

namespace {

namespace audio_to_text = modality_converter::audio_to_text;

// Speech services bill the audio they hear; the backends do not report the length they sent, so
// the transcript's span stands for it.
bool billed_by_audio(const BaseAudioToText& backend) {
  return dynamic_cast<const audio_to_text::openai_whisper_audio_to_text::OpenAIWhisperAudioToText*>(
             &backend) != nullptr ||
         dynamic_cast<const audio_to_text::google_cloud_audio_to_text::GoogleCloudAudioToText*>(
             &backend) != nullptr ||
         dynamic_cast<const audio_to_text::prosa_audio_to_text::ProsaAudioToText*>(&backend) !=
             nullptr;
}

}  // namespace

boost::asio::awaitable<runner::Conversion> transcribe(std::shared_ptr<BaseAudioToText> backend,
                                                      runner::ResolvedSource source,
                                                      std::string fallback_name) {
  if (!source.entry.options.empty()) {
    throw qorl_core::ValueError("transcribe takes no per-source options (" + source.entry.origin +
                                ")");
  }
  runner::Conversion conversion;
  std::vector<AudioTranscript> segments;
  if (auto youtube = std::dynamic_pointer_cast<
          audio_to_text::youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText>(backend)) {
    auto routed = co_await youtube->transcribe(source.entry.source);
    segments = std::move(routed.transcripts);
    conversion.via = routed.via == decltype(routed.via)::kCaptions ? "captions" : fallback_name;
  } else if (auto gemini = std::dynamic_pointer_cast<
                 audio_to_text::gemini_audio_to_text::GeminiAudioToText>(backend)) {
    // Its model call reports the tokens it cost.
    const converter_run::ConversionWatch watch;
    segments = co_await gemini->convert(source.entry.source, watch.event_emitter());
    conversion.usage = watch.usage();
  } else {
    segments = co_await backend->convert(source.entry.source);
  }
  if (segments.empty()) throw converter_run::nothing_generated("transcript");
  if (auto warning = utils::segment_times::fit_to_media_file(source.entry.source, segments)) {
    conversion.warnings.push_back(std::move(*warning));
  }
  if (billed_by_audio(*backend)) {
    for (const auto& segment : segments) {
      conversion.usage.audio_seconds = std::max(conversion.usage.audio_seconds, segment.end_time);
    }
  }
  conversion.record = transcript_records(segments);
  co_return conversion;
}

}  // namespace qorl_multimodal::batch::transcription_run
