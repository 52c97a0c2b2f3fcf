#include "qorl_multimodal/batch/transcription_run.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_multimodal/batch/converter_run.hpp"

namespace qorl_multimodal::batch::transcription_run {

qorl_core::Value transcript_records(const std::vector<AudioTranscript>& segments) {
  qorl_core::List records;
  for (const auto& segment : segments) records.emplace_back(segment.to_map());
  return records;
}

boost::asio::awaitable<runner::Conversion> transcribe(std::shared_ptr<BaseAudioToText> backend,
                                                      runner::ResolvedSource source) {
  if (!source.entry.options.empty()) {
    throw qorl_core::ValueError("transcribe takes no per-source options (" + source.entry.origin +
                                ")");
  }
  auto segments = co_await backend->convert(source.entry.source);
  if (segments.empty()) throw converter_run::nothing_generated("transcript");
  co_return runner::Conversion{.record = transcript_records(segments)};
}

}  // namespace qorl_multimodal::batch::transcription_run
