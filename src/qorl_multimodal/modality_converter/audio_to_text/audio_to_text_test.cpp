#include "qorl_multimodal/modality_converter/audio_to_text/audio_to_text.hpp"

#include <gtest/gtest.h>

#include <optional>

#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text {
namespace {

class WithoutConvert : public BaseAudioToText {};
static_assert(std::is_abstract_v<BaseAudioToText>);
static_assert(std::is_abstract_v<WithoutConvert>);

// Records what `convert` received; exposes the protected hooks.
class RecordingBackend : public BaseAudioToText {
 public:
  std::optional<std::string> received;

  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override {
    received = audio_source;
    co_return std::vector<AudioTranscript>{AudioTranscript::from_options(
        {{"text", "hi"}, {"start_time", 0}, {"end_time", 1}, {"lang_id", nullptr}})};
  }
  using BaseAudioToText::_format_input_event;
  using BaseAudioToText::_format_output_event;
  using BaseAudioToText::_run;
};

class DeferringBackend : public RecordingBackend {
 public:
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string audio_source) override {
    co_return co_await BaseAudioToText::convert(std::move(audio_source));
  }
};

TEST(BaseAudioToTextTest, RunRejectsMissingWrongKindAndBlankSourcesBeforeConverting) {
  const std::string message =
      "The input kwargs for audio to text must include a non-empty `audio_source` key of type "
      "`str`.";
  for (const qorl_core::Options& inputs :
       {qorl_core::Options{}, qorl_core::Options{{"audio_source", 3}},
        qorl_core::Options{{"audio_source", qorl_core::Bytes("a.mp3")}},
        qorl_core::Options{{"audio_source", " \n\t "}},
        qorl_core::Options{{"audio_source", "\u00A0"}},
        qorl_core::Options{{"audio_source", "\u3000"}},
        qorl_core::Options{{"audio_source", "\u2028"}},
        qorl_core::Options{{"audio_source", "\xc2\xa0\xe3\x80\x80"}}}) {
    RecordingBackend backend;
    try {
      qorl_core::run_sync(backend._run(inputs));
      ADD_FAILURE() << "no error for " << qorl_core::repr(qorl_core::Value(inputs));
    } catch (const qorl_core::ValueError& e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_FALSE(backend.received);
  }
}

TEST(BaseAudioToTextTest, RunPassesOnlyTheUntrimmedSourceAndReturnsTheResult) {
  RecordingBackend backend;
  const auto out =
      qorl_core::run_sync(backend.run({{"audio_source", " a.mp3 "}, {"language", "en"}}));
  EXPECT_EQ(backend.received, " a.mp3 ");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].text, "hi");
}

TEST(BaseAudioToTextTest, FrameConvertRaisesNotImplemented) {
  DeferringBackend backend;
  try {
    qorl_core::run_sync(backend._run({{"audio_source", "a.mp3"}}));
    FAIL();
  } catch (const qorl_core::NotImplementedError& e) {
    EXPECT_STREQ(e.what(),
                 "Subclasses must implement the `convert` method to define the audio to text "
                 "conversion process.");
  }
}

TEST(BaseAudioToTextTest, EventTextsUseDebugFormsOfClassAndSource) {
  RecordingBackend backend;
  EXPECT_EQ(backend._format_input_event({{"audio_source", "a.mp3"}}),
            "[Start 'RecordingBackend'] Converting audio to text from: 'a.mp3'");
  EXPECT_EQ(backend._format_input_event({}),
            "[Start 'RecordingBackend'] Converting audio to text from: None");
  EXPECT_EQ(backend._format_input_event({{"audio_source", "it's\n"}}),
            "[Start 'RecordingBackend'] Converting audio to text from: \"it's\\n\"");
  EXPECT_EQ(
      backend._format_input_event({{"audio_source", "https://h/a.mp3?X-Amz-Signature=s3cr3t"}}),
      "[Start 'RecordingBackend'] Converting audio to text from: "
      "'https://h/a.mp3?X-Amz-Signature=REDACTED'");
  EXPECT_EQ(backend._format_output_event({}),
            "[Finished 'RecordingBackend'] Converted audio to text: 0 audio transcript(s)");
  const auto three = qorl_core::run_sync(backend.convert("x"));
  EXPECT_EQ(backend._format_output_event({three[0], three[0], three[0]}),
            "[Finished 'RecordingBackend'] Converted audio to text: 3 audio transcript(s)");
}

TEST(BaseAudioToTextTest, LoggerIsNamedAfterTheConcreteClass) {
  RecordingBackend a;
  DeferringBackend b;
  EXPECT_EQ(a.logger().name(), "RecordingBackend");
  EXPECT_EQ(b.logger().name(), "DeferringBackend");
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text::audio_to_text
