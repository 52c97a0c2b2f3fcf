#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

#include "qorl_core/errors.hpp"
#include "qorl_core/redaction.hpp"
#include "qorl_core/text.hpp"
#include "qorl_core/type_name.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text {

boost::asio::awaitable<std::vector<AudioTranscript>> BaseAudioToText::convert(std::string) {
  throw qorl_core::NotImplementedError(
      "Subclasses must implement the `convert` method to define the audio to text conversion "
      "process.");
}

boost::asio::awaitable<std::vector<AudioTranscript>> BaseAudioToText::_run(
    qorl_core::Options inputs) {
  return run_source(inputs.get("audio_source", qorl_core::Value()));
}

boost::asio::awaitable<std::vector<AudioTranscript>> BaseAudioToText::run_source(
    qorl_core::Value source) {
  if (!source.is_string() || qorl_core::is_blank(source.as_string())) {
    throw qorl_core::ValueError(
        "The input kwargs for audio to text must include a non-empty `audio_source` key of type "
        "`str`.");
  }
  co_return co_await convert(source.as_string());
}

std::string BaseAudioToText::_format_input_event(const qorl_core::Options& input_dict) const {
  return "[Start " + qorl_core::repr(qorl_core::simple_type_name(typeid(*this))) +
         "] Converting audio to text from: " +
         qorl_core::repr(
             qorl_core::redaction::redact_urls(input_dict.get("audio_source", qorl_core::Value())));
}

std::string BaseAudioToText::_format_output_event(
    const std::vector<AudioTranscript>& output) const {
  return "[Finished " + qorl_core::repr(qorl_core::simple_type_name(typeid(*this))) +
         "] Converted audio to text: " + std::to_string(output.size()) + " audio transcript(s)";
}

}  // namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text
