// An abstract base class for audio to text used in Gen AI applications.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <string>
#include <vector>

#include "qorl_core/blocking_work.hpp"
#include "qorl_core/component.hpp"
#include "qorl_core/logger_manager.hpp"
#include "qorl_core/value.hpp"
#include "qorl_multimodal/modality_converter/schema/audio_transcript.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text {

using schema::audio_transcript::AudioTranscript;

class BaseAudioToText : public qorl_core::Component<std::vector<AudioTranscript>>,
                        public qorl_core::BlockingWork {
 public:
  // Converts audio to text from a given source. The frame's own body throws
  // NotImplementedError; backends decide which kind of source the text is.
  virtual boost::asio::awaitable<std::vector<AudioTranscript>> convert(
      std::string audio_source) = 0;

  // The backend's logger, named after its concrete class.
  qorl_core::Logger& logger() const { return logger_.get(typeid(*this)); }

 protected:
  // Executes the audio to text process: requires a non-empty text `audio_source` and hands it,
  // untrimmed, to `convert`; other inputs are ignored.
  boost::asio::awaitable<std::vector<AudioTranscript>> _run(qorl_core::Options inputs) override;

  std::string _format_input_event(const qorl_core::Options& input_dict) const override;
  std::string _format_output_event(const std::vector<AudioTranscript>& output) const override;

 private:
  boost::asio::awaitable<std::vector<AudioTranscript>> run_source(qorl_core::Value source);

  qorl_core::ClassNamedLogger logger_;
};

}  // namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text
