#include "qorl_multimodal/batch/transcription_run.hpp"

#include <algorithm>
#include <memory>

#include "clients/common/files.hpp"
#include "qorl_core/blocking_work.hpp"
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

// Media the run downloaded to key it, as a private local copy under its own name, so that the
// backend does not download it again.
struct LocalCopy {
  clients::common::TemporaryDirectory folder{"qorl-download"};
  std::string path;
};

// None for media that was not downloaded, and for Prosa, whose service fetches a link itself.
// The caller awaits it at once, so its references outlive it.
boost::asio::awaitable<std::unique_ptr<LocalCopy>> local_copy(
    const runner::ResolvedSource& source, const BaseAudioToText& backend) {
  if (!source.bytes || source.file_name.empty() ||
      dynamic_cast<const audio_to_text::prosa_audio_to_text::ProsaAudioToText*>(&backend)) {
    co_return nullptr;
  }
  auto copy = std::make_unique<LocalCopy>();
  const bool plain = source.file_name != "." && source.file_name != "..";
  copy->path = (copy->folder.path() / (plain ? source.file_name : "media")).string();
  co_await qorl_core::run_blocking([&copy, &source] {
    clients::common::write_file_atomically(copy->path, source.bytes->view());
  });
  co_return copy;
}

}  // namespace

boost::asio::awaitable<runner::Conversion> transcribe(std::shared_ptr<BaseAudioToText> backend,
                                                      runner::ResolvedSource source,
                                                      std::string fallback_name) {
  if (!source.entry.options.empty()) {
    throw qorl_core::ValueError("transcribe takes no per-source options (" + source.entry.origin +
                                ")");
  }
  const std::unique_ptr<LocalCopy> downloaded = co_await local_copy(source, *backend);
  const std::string audio_source = downloaded ? downloaded->path : source.entry.source;
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
    segments = co_await gemini->convert(audio_source, watch.event_emitter());
    conversion.usage = watch.usage();
  } else {
    segments = co_await backend->convert(audio_source);
  }
  if (segments.empty()) throw converter_run::nothing_generated("transcript");
  if (auto warning = utils::segment_times::fit_to_media_file(audio_source, segments)) {
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
