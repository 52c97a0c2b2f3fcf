#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"
#include "testing/audio.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/media.hpp"
#include "testing/source_files.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::gemini_audio_to_text {
namespace {

using json = nlohmann::json;
using qorl_testing::FakeGeminiServer;
using ::testing::ElementsAre;
using namespace std::chrono_literals;

// The package offers the backends by name.
namespace package = qorl_multimodal::modality_converter::audio_to_text;
static_assert(std::is_same_v<package::GeminiAudioToText, GeminiAudioToText>);
static_assert(std::is_same_v<package::ProsaAudioToText, prosa_audio_to_text::ProsaAudioToText>);

const std::string kTwoSegments = R"({"audio_transcripts": [
    {"text": "Speaker 1: Halo.", "start_time": 0, "end_time": 1.5, "lang_id": "id"},
    {"text": "Non-speech: music", "start_time": 1.5, "end_time": 4.25, "lang_id": null}]})";

class GeminiTest : public ::testing::Test {
 protected:
  GeminiAudioToText backend(GeminiAudioToText::Params params = {}) {
    params.api_key = server_.api_key();
    params.base_url = server_.base_url();
    return GeminiAudioToText(std::move(params));
  }
  static std::vector<AudioTranscript> convert(GeminiAudioToText& gemini,
                                              const std::string& source) {
    return qorl_core::run_sync(gemini.convert(source));
  }
  json only_request() const {
    const auto requests = server_.generate_requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? json() : json::parse(requests.back().body);
  }
  FakeGeminiServer server_;
  qorl_testing::TempDir dir_;
};

TEST_F(GeminiTest, YouTubeLinksAreAttachedAsUrlsBeforeTheDefaultPrompt) {
  server_.set_answer_text(kTwoSegments);
  auto gemini = backend();
  const std::string link = "https://youtu.be/dQw4w9WgXcQ";
  qorl_testing::LogCapture capture;
  const auto transcripts = qorl_core::run_sync(gemini.run({{"audio_source", link}}));

  ASSERT_EQ(transcripts.size(), 2u);
  EXPECT_EQ(transcripts[0].text, "Speaker 1: Halo.");
  EXPECT_EQ(transcripts[0].lang_id, "id");
  EXPECT_DOUBLE_EQ(transcripts[1].end_time, 4.25);
  EXPECT_FALSE(transcripts[1].lang_id.has_value());

  EXPECT_THAT(server_.generate_requests().at(0).path,
              ::testing::EndsWith("/models/gemini-2.5-flash:generateContent"));
  const json body = only_request();
  EXPECT_EQ(body["systemInstruction"], (json{{"parts", {{{"text", DEFAULT_SYSTEM_PROMPT}}}}}));
  ASSERT_EQ(body["contents"].size(), 1u);
  EXPECT_EQ(body["contents"][0]["role"], "user");
  EXPECT_EQ(body["contents"][0]["parts"],
            (json{{{"fileData", {{"fileUri", link}}}}, {{"text", DEFAULT_USER_PROMPT}}}));
  const json& schema = body["generationConfig"]["responseSchema"];
  EXPECT_EQ(schema["required"], json{"audio_transcripts"});
  const json& item = schema["properties"]["audio_transcripts"]["items"];
  EXPECT_EQ(item["propertyOrdering"], (json{"text", "start_time", "end_time", "lang_id"}));
  EXPECT_EQ(item["properties"]["lang_id"], (json{{"type", "STRING"}, {"nullable", true}}));

  EXPECT_THAT(
      capture.messages("GeminiAudioToText"),
      ElementsAre("[Start 'GeminiAudioToText'] Converting audio to text from: '" + link + "'",
                  "Converting audio source: " + link,
                  std::string("Generating content using model: gemini-2.5-flash, system "
                              "prompt: ") +
                      DEFAULT_SYSTEM_PROMPT + ", user prompt: " + DEFAULT_USER_PROMPT,
                  "Successfully generated 2 audio transcripts.",
                  "[Finished 'GeminiAudioToText'] Converted audio to text: 2 audio "
                  "transcript(s)"));
}

TEST_F(GeminiTest, LocalFilesAreAttachedWithCustomPrompts) {
  server_.set_answer_text(R"({"audio_transcripts": []})");
  const std::string wav = qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 8000, 0.5);
  const std::string path = dir_.write("meeting.wav", wav).string();
  auto gemini = backend({.model = "gemini-2.5-pro",
                         .system_prompt = "Transcribe.\nCarefully.",
                         .user_prompt = "Only the words."});
  qorl_testing::LogCapture capture;
  EXPECT_TRUE(convert(gemini, path).empty());

  const json body = only_request();
  EXPECT_EQ(body["systemInstruction"]["parts"][0]["text"], "Transcribe.\nCarefully.");
  const json& parts = body["contents"][0]["parts"];
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0]["inlineData"]["data"], qorl_core::base64_encode(wav));
  EXPECT_THAT(parts[0]["inlineData"]["mimeType"].get<std::string>(),
              ::testing::StartsWith("audio/"));
  EXPECT_EQ(parts[1], (json{{"text", "Only the words."}}));
  EXPECT_THAT(
      capture.messages("GeminiAudioToText"),
      ElementsAre("Converting audio source: " + path, "Audio source is a local file: " + path,
                  "Generating content using model: gemini-2.5-pro, system prompt: "
                  "Transcribe.\nCarefully., user prompt: Only the words.",
                  "Successfully generated 0 audio transcripts."));
}

TEST_F(GeminiTest, ContainersTheServiceDoesNotDocumentAreSentAsFlac) {
  server_.set_answer_text(kTwoSegments);
  const std::vector<std::pair<std::string, std::vector<std::string>>> containers = {
      {"talk.m4a", {"-c:a", "aac"}}, {"talk.opus", {"-c:a", "libopus"}}};
  for (const auto& [name, codec] : containers) {
    SCOPED_TRACE(name);
    std::vector<std::string> arguments = {"-f", "lavfi", "-i", "sine=duration=1"};
    arguments.insert(arguments.end(), codec.begin(), codec.end());
    const auto path = dir_.path() / name;
    qorl_testing::write_with_ffmpeg(arguments, path);
    auto gemini = backend();
    EXPECT_EQ(convert(gemini, path.string()).size(), 2u);
    const json data = json::parse(
        server_.generate_requests().back().body)["contents"][0]["parts"][0]["inlineData"];
    EXPECT_EQ(data["mimeType"], "audio/flac");
    EXPECT_THAT(*qorl_core::base64_decode(data["data"].get<std::string>()),
                ::testing::StartsWith("fLaC"));
  }
}

TEST_F(GeminiTest, LargeFilesGoThroughTheFilesApi) {
  server_.set_answer_text(kTwoSegments);
  std::string big = qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 8000, 0.1);
  big.resize(21 * 1024 * 1024, '\x01');
  const std::string path = dir_.write("long.wav", big).string();
  auto gemini = backend();
  EXPECT_EQ(convert(gemini, path).size(), 2u);
  const auto files = server_.files();
  ASSERT_EQ(files.size() + server_.removed_files().size(), 1u);
  const json part = only_request()["contents"][0]["parts"][0];
  ASSERT_TRUE(part.contains("fileData")) << part.dump();
  EXPECT_THAT(part["fileData"]["fileUri"].get<std::string>(), ::testing::HasSubstr("/files/"));
}

TEST_F(GeminiTest, SourcesThatAreNoYouTubeLinkAndNoRegularFileAreRefused) {
  auto gemini = backend();
  const std::string missing = (dir_.path() / "missing.wav").string();
  const std::string directory = dir_.path().string();
  for (const std::string& source : std::vector<std::string>{missing, directory, "UklGRiQAAABXQVZF",
                                                            "https://example.com/a.mp3", ""}) {
    try {
      convert(gemini, source);
      ADD_FAILURE() << "accepted " << source;
    } catch (const qorl_core::ValueError& error) {
      EXPECT_EQ(std::string(error.what()), "Invalid audio source: " + source + ".");
    }
  }
  // A NUL byte would cut the path short at the file system: no file is named so.
  const std::string real = dir_.write("a.wav", "RIFF").string();
  EXPECT_THROW(convert(gemini, real + std::string(1, '\0') + ".mp3"), qorl_core::ValueError);
  EXPECT_TRUE(server_.requests().empty());
}

TEST_F(GeminiTest, DefaultPromptsAreTheReferenceTextsByteForByte) {
  EXPECT_EQ(DEFAULT_SYSTEM_PROMPT,
            qorl_testing::read_source_file(
                "src/qorl_multimodal/modality_converter/audio_to_text/testdata/"
                "gemini_system_prompt.txt"));
  EXPECT_EQ(DEFAULT_USER_PROMPT,
            qorl_testing::read_source_file(
                "src/qorl_multimodal/modality_converter/audio_to_text/testdata/"
                "gemini_user_prompt.txt"));
}

TEST_F(GeminiTest, SchemelessYouTubeLinksReachTheModelAsHttpsUrls) {
  server_.set_answer_text(kTwoSegments);
  auto gemini = backend();
  convert(gemini, "youtu.be/dQw4w9WgXcQ");
  EXPECT_EQ(only_request()["contents"][0]["parts"][0],
            (json{{"fileData", {{"fileUri", "https://youtu.be/dQw4w9WgXcQ"}}}}));
}

TEST_F(GeminiTest, RetriesAndTimeLimitComeFromTheConstructor) {
  server_.set_answer_text(kTwoSegments);
  const std::string link = "https://www.youtube.com/watch?v=dQw4w9WgXcQ";
  const FakeGeminiServer::Reply overloaded{
      503, FakeGeminiServer::error_body(503, "The model is overloaded.", "UNAVAILABLE")};

  auto no_retry = backend();
  server_.queue_reply(overloaded);
  EXPECT_THROW(convert(no_retry, link), qorl_inference::BaseInvokerError);
  EXPECT_EQ(server_.generate_requests().size(), 1u);

  auto one_retry = backend({.max_retries = 1});
  server_.queue_reply(overloaded);
  EXPECT_EQ(convert(one_retry, link).size(), 2u);
  EXPECT_EQ(server_.generate_requests().size(), 3u);

  auto limited = backend({.timeout = 0.2});
  server_.queue_reply({200, FakeGeminiServer::answer_body(kTwoSegments), 1500ms});
  EXPECT_THROW(convert(limited, link), qorl_inference::BaseInvokerError);

  // An answer that does not fit the schema is the invoker's error too.
  server_.set_answer_text(R"({"audio_transcripts": [{"text": "Halo", "start_time": 0}]})");
  EXPECT_THROW(convert(no_retry, link), qorl_inference::BaseInvokerError);
}

using HostileGeminiAudio = GeminiTest;

TEST_F(HostileGeminiAudio, FilesThatAreNoAudioAreRefusedBeforeAnyUpload) {
  server_.set_answer_text(kTwoSegments);
  auto gemini = backend();
  const std::string text = dir_.write("notes.mp3", "Meeting notes, not a recording.\n").string();
  try {
    convert(gemini, text);
    FAIL() << "a text file was sent as audio";
  } catch (const qorl_core::ValueError& error) {
    EXPECT_STREQ(error.what(), "Not an audio file: 'notes.mp3' holds text/plain.");
  }
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0", 29);
  EXPECT_THROW(convert(gemini, dir_.write("cover.wav", png).string()), qorl_core::ValueError);
  EXPECT_TRUE(server_.requests().empty());
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text::gemini_audio_to_text
