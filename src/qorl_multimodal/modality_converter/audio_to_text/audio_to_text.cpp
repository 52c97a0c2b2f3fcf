#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "qorl_core/errors.hpp"
#include "qorl_core/type_name.hpp"
#include "qorl_core/redaction.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text {

namespace {

// True when stripping white space leaves nothing: Unicode white space (no-break space, ideographic
// space, ...) plus the ASCII separators \x1c-\x1f, as a dynamic language's strip() sees them.
bool is_blank(const std::string& text) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) return false;
    if (!u_isUWhiteSpace(c) && !(c >= 0x1c && c <= 0x1f)) return false;
  }
  return true;
}

}  // namespace

boost::asio::awaitable<std::vector<AudioTranscript>> BaseAudioToText::convert(std::string) {
  throw qorl_core::NotImplementedError(
      "Subclasses must implement the `convert` method to define the audio to text conversion "
      "process.");
}

boost::asio::awaitable<std::vector<AudioTranscript>> BaseAudioToText::_run(
    const qorl_core::Options& inputs) {
  // The source is copied here so nothing refers to `inputs` once the coroutine suspends.
  return run_source(inputs.get("audio_source", qorl_core::Value()));
}

boost::asio::awaitable<std::vector<AudioTranscript>> BaseAudioToText::run_source(
    qorl_core::Value source) {
  if (!source.is_string() || is_blank(source.as_string())) {
    throw qorl_core::ValueError(
        "The input kwargs for audio to text must include a non-empty `audio_source` key of type "
        "`str`.");
  }
  co_return co_await convert(source.as_string());
}

std::string BaseAudioToText::_format_input_event(const qorl_core::Options& input_dict) const {
  return "[Start " + qorl_core::repr(qorl_core::simple_type_name(typeid(*this))) +
         "] Converting audio to text from: " +
         qorl_core::repr(qorl_core::redaction::redact_urls(input_dict.get("audio_source", qorl_core::Value())));
}

std::string BaseAudioToText::_format_output_event(
    const std::vector<AudioTranscript>& output) const {
  return "[Finished " + qorl_core::repr(qorl_core::simple_type_name(typeid(*this))) +
         "] Converted audio to text: " + std::to_string(output.size()) + " audio transcript(s)";
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text
