#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "clients/process/process.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"
#include "qorl_multimodal/utils/fourier_resample.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"
#include "testing/audio.hpp"
#include "testing/child_memory.hpp"
#include "testing/fake_openai.hpp"
#include "testing/log_capture.hpp"
#include "testing/loopback.hpp"
#include "testing/run_program.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text {
namespace {

using qorl_core::run_sync;

using qorl_core::Bytes;
using qorl_testing::AudioContainer;
using qorl_testing::sine_audio;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The package offers the backend by name.
static_assert(
    std::is_same_v<qorl_multimodal::modality_converter::audio_to_text::OpenAIWhisperAudioToText,
                   OpenAIWhisperAudioToText>);

class Whisper : public OpenAIWhisperAudioToText {
 public:
  using OpenAIWhisperAudioToText::OpenAIWhisperAudioToText;
  using OpenAIWhisperAudioToText::_convert_whisper_response_to_audio_transcripts;
  using OpenAIWhisperAudioToText::_reduce_file_size;
  using OpenAIWhisperAudioToText::_transcribe_audio_file;
};

// White noise barely compresses: sizes are predictable.
std::string noise_wav(int rate, double seconds, double amplitude = 0.9) {
  const qorl_testing::TempDir dir;
  const auto path = dir.path() / "noise.wav";
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  std::mt19937 gen(11);
  std::uniform_real_distribution<> dist(-amplitude, amplitude);
  std::vector<double> block(65536);
  for (auto left = static_cast<long long>(rate * seconds); left > 0; left -= 65536) {
    for (double& v : block) v = dist(gen);
    sf_writef_double(file, block.data(), std::min<long long>(left, 65536));
  }
  sf_close(file);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class WhisperTest : public ::testing::Test {
 protected:
  OpenAIWhisperAudioToText::Params params(OpenAIWhisperAudioToText::Params params = {}) {
    if (params.api_key.empty()) params.api_key = qorl_testing::FakeOpenAI::kApiKey;
    params.base_url = server_.base_url();
    // YouTube downloads, if any, go nowhere: a closed loopback port.
    params.proxy = "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
    return params;
  }
  // With its internal steps reachable; it logs as "Whisper".
  Whisper backend(OpenAIWhisperAudioToText::Params p = {}) { return Whisper(params(std::move(p))); }
  qorl_testing::FakeOpenAI::Upload only_upload() const {
    const auto uploads = server_.uploads();
    EXPECT_EQ(uploads.size(), 1u);
    return uploads.empty() ? qorl_testing::FakeOpenAI::Upload{} : uploads.back();
  }
  qorl_testing::FakeOpenAI server_;
  qorl_testing::TempDir dir_;
};

TEST_F(WhisperTest, ConstructorNormalisesTheSkipList) {
  auto whisper = backend(
      {.skip_conversion_for_formats = std::vector<std::string>{".MP3", "Wav.", "..", "mp3"}});
  EXPECT_THAT(whisper.skip_conversion_for_formats, ElementsAre("mp3", "wav", "", "mp3"));
  EXPECT_TRUE(backend().skip_conversion_for_formats.empty());
  EXPECT_EQ(OpenAIWhisperAudioToText(params()).logger().name(), "OpenAIWhisperAudioToText");
}

TEST_F(WhisperTest, WavFileIsSentAsMonoFlacWithAllSettings) {
  server_.set_transcript("english", {{" Hello there.", 0.0, 1.25}, {" Bye.", 1.25, 2.0}}, {});
  const std::string wav = sine_audio(AudioContainer::WAV, 2, 22050, 0.5);
  const auto path = dir_.write("speech.wav", wav);
  OpenAIWhisperAudioToText whisper(
      params({.language = "en", .prompt = "QORL", .temperature = 0.3}));
  qorl_testing::LogCapture capture;
  const auto transcripts = qorl_core::run_sync(whisper.run({{"audio_source", path.string()}}));

  ASSERT_EQ(transcripts.size(), 2u);
  EXPECT_EQ(transcripts[0].text, " Hello there.");  // not trimmed
  EXPECT_DOUBLE_EQ(transcripts[1].start_time, 1.25);
  EXPECT_EQ(transcripts[1].lang_id, "en");

  const auto upload = only_upload();
  const auto* file = upload.part("file");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->filename, "audio.flac");
  EXPECT_EQ(file->content_type, "audio/flac");
  const auto sent = qorl_testing::decode_audio(file->data);
  EXPECT_EQ(sent.channels, 1);
  EXPECT_EQ(sent.sample_rate, 22050);
  EXPECT_EQ(sent.frames, 11025);
  EXPECT_EQ(upload.part("model")->data, "whisper-1");
  EXPECT_EQ(upload.part("language")->data, "en");
  EXPECT_EQ(upload.part("prompt")->data, "QORL");
  EXPECT_EQ(upload.part("response_format")->data, "verbose_json");
  EXPECT_DOUBLE_EQ(std::stod(upload.part("temperature")->data), 0.3);
  EXPECT_EQ(upload.part("timestamp_granularities[]")->data, "segment");

  EXPECT_THAT(
      capture.messages("OpenAIWhisperAudioToText"),
      ElementsAre("[Start 'OpenAIWhisperAudioToText'] Converting audio to text from: '" +
                      path.string() + "'",
                  "Converting audio source: " + path.string(),
                  "Audio source is a valid audio file path: " + path.string(),
                  "Converting audio to mono FLAC format", "Transcribing audio file: audio.flac",
                  "Received transcription response with 2 segments/words",
                  "[Finished 'OpenAIWhisperAudioToText'] Converted audio to text: 2 audio "
                  "transcript(s)"));
}

TEST_F(WhisperTest, SkippedFormatsAreSentUnchangedWithTheirContentType) {
  const std::string mp3 = sine_audio(AudioContainer::MP3, 1, 16000, 0.5);
  const std::string aiff = sine_audio(AudioContainer::AIFF, 1, 8000, 0.25);
  auto whisper = backend({.skip_conversion_for_formats = std::vector<std::string>{".MP3", "aiff"}});
  run_sync(whisper._transcribe_audio_file(Bytes(mp3)));
  run_sync(whisper._transcribe_audio_file(Bytes(aiff)));
  const auto uploads = server_.uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[0].part("file")->filename, "audio.mp3");
  EXPECT_EQ(uploads[0].part("file")->content_type, "audio/mpeg");
  EXPECT_EQ(uploads[0].part("file")->data, mp3);
  EXPECT_EQ(uploads[1].part("file")->filename, "audio.aiff");
  EXPECT_EQ(uploads[1].part("file")->content_type, "audio/aiff");
  EXPECT_EQ(uploads[1].part("file")->data, aiff);
}

TEST_F(WhisperTest, SkippedFilesOverTheLimitAreRefusedAtTheLimitSent) {
  auto whisper = backend({.skip_conversion_for_formats = std::vector<std::string>{"wav"}});
  // 44-byte header + 16-bit mono samples.
  std::string at_limit =
      sine_audio(AudioContainer::WAV, 1, 8000, (MAX_AUDIO_SIZE - 44) / 2 / 8000.0);
  ASSERT_EQ(at_limit.size(), MAX_AUDIO_SIZE);
  run_sync(whisper._transcribe_audio_file(Bytes(at_limit)));
  EXPECT_EQ(only_upload().part("file")->data.size(), MAX_AUDIO_SIZE);

  qorl_testing::LogCapture capture;
  EXPECT_THROW(run_sync(whisper._transcribe_audio_file(Bytes(at_limit + '\0'))),
               qorl_core::ValueError);
  const std::string big = sine_audio(AudioContainer::WAV, 1, 8000, (30000000 - 44) / 2 / 8000.0);
  ASSERT_EQ(big.size(), 30000000u);
  try {
    run_sync(whisper._transcribe_audio_file(Bytes(big)));
    FAIL();
  } catch (const qorl_core::ValueError& e) {
    EXPECT_STREQ(e.what(),
                 "Audio file size (28.61 MB) exceeds the maximum allowed size (25.00 MB). "
                 "Conversion was skipped for format 'wav' as specified in "
                 "skip_conversion_for_formats. Please provide a smaller audio file or remove 'wav' "
                 "from skip_conversion_for_formats to enable automatic size reduction.");
  }
  EXPECT_THAT(capture.messages("Whisper"),
              Contains("Audio file size 30000000 bytes exceeds the maximum allowed size: 26214400 "
                       "bytes"));
  EXPECT_EQ(server_.uploads().size(), 1u);
}

TEST_F(WhisperTest, ConvertedFilesOverTheLimitAreReducedBelowIt) {
  // About 30 MB once converted to 24-bit mono FLAC.
  const std::string wav = noise_wav(48000, 215);
  qorl_testing::LogCapture capture;
  run_sync(backend()._transcribe_audio_file(Bytes(wav)));
  const auto file = *only_upload().part("file");
  EXPECT_EQ(file.filename, "audio.flac");
  EXPECT_EQ(file.content_type, "audio/flac");
  EXPECT_LE(file.data.size(), MAX_AUDIO_SIZE);
  const auto sent = qorl_testing::decode_audio(file.data);
  EXPECT_EQ(sent.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
  EXPECT_EQ(sent.sample_rate, 16000);
  EXPECT_EQ(sent.frames, 215 * 16000);
  const auto lines = capture.messages("Whisper");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_THAT(lines[1], ::testing::MatchesRegex("Audio file size [0-9]+ bytes exceeds the maximum "
                                                "allowed size: 26214400 bytes"));
  EXPECT_THAT(lines[2], ::testing::MatchesRegex(
                            "Reduced size with \\{'sample_rate': 16000, 'channels': 1, "
                            "'bit_depth': 16\\}: [0-9]+\\.[0-9][0-9] MB \\(SR: 16000Hz, Ch: 1, "
                            "Depth: 16-bit\\)"));
}

TEST_F(WhisperTest, ReductionMixesResamplesAndSaturatesInsteadOfWrapping) {
  // A full-scale square wave overshoots -1..1 when resampled (Gibbs ripples).
  const int rate = 44100;
  std::vector<double> square(rate / 2);
  for (std::size_t i = 0; i < square.size(); ++i) square[i] = (i / 50) % 2 ? -1.0 : 1.0;
  std::vector<double> stereo;
  for (double v : square) stereo.insert(stereo.end(), {v, v});
  const qorl_testing::TempDir dir;
  const auto path = dir.path() / "square.wav";
  SF_INFO info{0, rate, 2, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
  SNDFILE* out = sf_open(path.c_str(), SFM_WRITE, &info);
  sf_writef_double(out, stereo.data(), static_cast<sf_count_t>(square.size()));
  sf_close(out);
  std::ifstream in(path, std::ios::binary);
  const std::string wav{std::istreambuf_iterator<char>(in), {}};

  const auto reduced = qorl_testing::decode_audio(backend()._reduce_file_size(Bytes(wav)).str());
  std::vector<double> expected = square;
  utils::fourier_resample::resample(expected, square.size() * 16000 / rate);
  ASSERT_EQ(reduced.channels, 1);
  ASSERT_EQ(reduced.frames, static_cast<long long>(expected.size()));
  double peak = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    peak = std::max(peak, std::abs(expected[i]));
    const double want = std::clamp(std::trunc(expected[i] * 32767), -32768.0, 32767.0) / 32768;
    ASSERT_NEAR(reduced.samples[i], want, 1.5 / 32768) << i;
  }
  EXPECT_GT(peak, 1.05);  // the case that wrapped around before
}

TEST_F(WhisperTest, WordGranularityGivesOneRecordPerWord) {
  server_.set_transcript("english", {{" Hi all.", 0, 1}}, {{"Hi", 0.0, 0.4}, {"all", 0.4, 0.9}});
  auto whisper = backend({.timestamp_granularity = "word"});
  const auto out = run_sync(
      whisper._transcribe_audio_file(Bytes(sine_audio(AudioContainer::WAV, 1, 8000, 0.25))));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].text, "all");
  EXPECT_DOUBLE_EQ(out[1].end_time, 0.9);
  EXPECT_EQ(only_upload().part("timestamp_granularities[]")->data, "word");
}

TEST_F(WhisperTest, AnswersMapToRecordsSegmentsFirst) {
  auto whisper = backend();
  qorl_testing::LogCapture capture;
  clients::openai::Transcription both;
  both.language = "no such language";
  both.segments = {{" One.", 0, 1}};
  both.words = {{"One", 0, 0.5}};
  const auto records = whisper._convert_whisper_response_to_audio_transcripts(both);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, " One.");
  EXPECT_EQ(records[1].text, "One");
  EXPECT_EQ(records[0].lang_id, std::nullopt);
  EXPECT_THAT(capture.messages("Whisper"),
              ElementsAre("Failed to convert language: no such language to ISO 639 code"));
  EXPECT_TRUE(whisper._convert_whisper_response_to_audio_transcripts({}).empty());

  server_.set_transcript(std::nullopt, {}, {});
  EXPECT_TRUE(
      run_sync(whisper._transcribe_audio_file(Bytes(sine_audio(AudioContainer::WAV, 1, 8000, 0.1))))
          .empty());
  EXPECT_THAT(capture.messages("Whisper"),
              Contains("Received transcription response with 0 segments/words"));
}

TEST_F(WhisperTest, UnusableSourcesAndRefusedRequests) {
  auto whisper = backend();
  qorl_testing::LogCapture capture;
  try {
    qorl_core::run_sync(whisper.convert("not a path, base64, URL or video"));
    FAIL();
  } catch (const qorl_core::ValueError& e) {
    EXPECT_STREQ(e.what(), "Unsupported audio source");
  }
  const auto utils = capture.messages("qorl_multimodal.utils.audio_to_text_utils");
  for (const char* failure : {"not a valid audio file path", "not a valid base64 encoded",
                              "not a valid downloadable URL", "not a valid YouTube URL"}) {
    EXPECT_THAT(utils, Contains(HasSubstr(failure)));
  }
  EXPECT_TRUE(server_.uploads().empty());

  const auto path = dir_.write("a.wav", sine_audio(AudioContainer::WAV, 1, 8000, 0.1));
  auto wrong_key = backend({.api_key = "sk-wrong"});
  EXPECT_THROW(qorl_core::run_sync(wrong_key.convert(path.string())),
               clients::openai::AuthenticationError);
}

TEST_F(WhisperTest, CompatibleServersGiveTimedTextAndJsonOnlyModelsAreAskedOnceForTimes) {
  using Flavour = qorl_testing::FakeOpenAI::Flavour;
  const auto path = dir_.write("talk.wav", sine_audio(AudioContainer::WAV, 1, 8000, 1.5));
  for (const Flavour flavour :
       {Flavour::kJsonOnlyModel, Flavour::kSpeaches, Flavour::kVllm, Flavour::kWhisperCpp}) {
    SCOPED_TRACE(static_cast<int>(flavour));
    const bool json_only = flavour == Flavour::kJsonOnlyModel;
    qorl_testing::FakeOpenAI server(flavour);
    server.set_transcript("english", {{" Halo.", 0, 0.7}, {" Apa kabar?", 0.7, 1.5}},
                          {{"Halo", 0.0, 0.5}});
    OpenAIWhisperAudioToText whisper({.api_key = qorl_testing::FakeOpenAI::kApiKey,
                                      .model = json_only ? "gpt-4o-transcribe" : "whisper-1",
                                      .base_url = server.base_url()});
    for (int call = 0; call < 2; ++call) {
      const auto transcript = run_sync(whisper.convert(path.string()));
      if (json_only) {
        // The text, spanning the file sent, since the answer has no times.
        ASSERT_EQ(transcript.size(), 1u);
        EXPECT_EQ(transcript[0].text, " Halo. Apa kabar?");
        EXPECT_DOUBLE_EQ(transcript[0].start_time, 0.0);
        EXPECT_NEAR(transcript[0].end_time, 1.5, 1e-9);
      } else {
        ASSERT_EQ(transcript.size(), 2u);
        EXPECT_EQ(transcript[1].text, " Apa kabar?");
        EXPECT_DOUBLE_EQ(transcript[1].end_time, 1.5);
        EXPECT_EQ(transcript[1].lang_id, "en");
      }
    }
    // A refusal is remembered for the server and model: verbose_json is asked once.
    std::vector<std::string> formats;
    for (const auto& upload : server.uploads())
      formats.push_back(upload.part("response_format")->data);
    const std::vector<std::string> expected =
        json_only ? std::vector<std::string>{"verbose_json", "json", "json"}
                  : std::vector<std::string>{"verbose_json", "verbose_json"};
    EXPECT_EQ(formats, expected);
  }

  // Text given without segments or words is kept, spanning the file.
  server_.set_transcript(std::nullopt, {{" Given.", 0, 1}}, {});
  auto words = backend({.timestamp_granularity = "word"});
  const auto kept = run_sync(words.convert(path.string()));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].text, " Given.");
  EXPECT_NEAR(kept[0].end_time, 1.5, 1e-9);
  EXPECT_EQ(kept[0].lang_id, std::nullopt);
}

// Noise (which FLAC barely compresses) at 16 kHz, with a second of silence every 100 s.
std::string long_recording(double seconds) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<> dist(-0.5, 0.5);
  std::vector<double> samples(static_cast<std::size_t>(seconds * 16000));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = (i / 16000) % 100 == 99 ? 0.0 : dist(gen);
  }
  utils::sound_file::FlacWriter writer(16000, 1, utils::sound_file::Subtype::PCM_16);
  writer.write(samples.data(), static_cast<std::int64_t>(samples.size()));
  return writer.finish();
}

TEST_F(WhisperTest, ChunkedLongAudioGoesIn16kHzPiecesCutInSilenceOnOneTimeLine) {
  server_.echo_durations();
  const auto path = dir_.write("meeting.flac", long_recording(1800));
  auto whisper = backend({.prompt = "Minutes.", .chunk_long_audio = true});
  const auto transcript = qorl_core::run_sync(whisper.convert(path.string()));

  const auto uploads = server_.uploads();
  ASSERT_GE(uploads.size(), 3u);
  ASSERT_EQ(transcript.size(), uploads.size());
  double next_start = 0.0;
  for (std::size_t i = 0; i < uploads.size(); ++i) {
    const auto& file = *uploads[i].part("file");
    EXPECT_LE(file.data.size(), MAX_AUDIO_SIZE);
    EXPECT_EQ(qorl_testing::decode_audio(file.data).sample_rate, 16000);
    // One echoed segment per piece, shifted to where the piece starts.
    EXPECT_NEAR(transcript[i].start_time, next_start, 1e-6);
    next_start = transcript[i].end_time;
    if (i + 1 < uploads.size()) {
      const double cut = std::fmod(next_start, 100.0);
      EXPECT_TRUE(cut >= 99.0 && cut < 100.0) << "cut at " << next_start;
    }
  }
  EXPECT_NEAR(next_start, 1800.0, 1e-6);
  EXPECT_EQ(uploads[0].part("prompt")->data, "Minutes.");
}

TEST_F(WhisperTest, ChunkedPiecesThatRepeatThemselvesAreAskedAgainHotter) {
  using Segment = qorl_testing::FakeOpenAI::Segment;
  const std::vector<Segment> looping(4, Segment{" Terima kasih.", 0, 1});
  const std::vector<Segment> sound = {{" Selamat pagi.", 0, 0.5}, {" Terima kasih.", 0.5, 1}};
  const auto path = dir_.write("short.wav", sine_audio(AudioContainer::WAV, 1, 16000, 1.0));
  auto whisper = backend({.temperature = 0.3, .chunk_long_audio = true});
  qorl_testing::LogCapture capture;

  server_.queue_segments(looping);
  server_.queue_segments(sound);
  auto transcript = run_sync(whisper.convert(path.string()));
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_EQ(transcript[0].text, " Selamat pagi.");
  auto uploads = server_.uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[0].part("temperature")->data, "0.3");
  EXPECT_EQ(uploads[1].part("temperature")->data, "0.5");
  EXPECT_THAT(capture.messages("Whisper"),
              Contains(HasSubstr("4 segments repeated themselves (4 equal in a row")));
  EXPECT_THAT(capture.messages("Whisper"),
              Contains(HasSubstr("asked again at temperature 0.5, kept the second answer")));

  // One segment that compresses too well loops too; a worse second answer is not kept.
  std::string chant;
  for (int i = 0; i < 20; ++i) chant += " la la la";
  server_.queue_segments({{chant, 0, 1}});
  server_.queue_segments({{chant + chant + chant, 0, 1}});
  transcript = run_sync(whisper.convert(path.string()));
  ASSERT_EQ(transcript.size(), 1u);
  EXPECT_EQ(transcript[0].text, chant);
  EXPECT_EQ(server_.uploads().size(), 4u);
  // A sound answer is asked once.
  server_.queue_segments(sound);
  EXPECT_EQ(run_sync(whisper.convert(path.string())).size(), 2u);
  EXPECT_EQ(server_.uploads().size(), 5u);
}

TEST_F(WhisperTest, ChunkingSendsAudioThatFitsWholeAtItsOwnRate) {
  const auto path = dir_.write("short.wav", sine_audio(AudioContainer::WAV, 2, 44100, 1.0));
  auto whisper = backend({.chunk_long_audio = true});
  qorl_core::run_sync(whisper.convert(path.string()));
  const auto sent = qorl_testing::decode_audio(only_upload().part("file")->data);
  EXPECT_EQ(sent.sample_rate, 44100);
  EXPECT_EQ(sent.channels, 1);
}

TEST_F(WhisperTest, ChunkingDecodesOtherContainersThroughFfmpeg) {
  // AAC in MP4, which libsndfile cannot open: ffmpeg's FLAC of it goes whole at its own rate.
  const auto wav = dir_.write("tone.wav", sine_audio(AudioContainer::WAV, 2, 22050, 2.0));
  const auto m4a = dir_.path() / "tone.m4a";
  const auto made = qorl_testing::run_process({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                                               wav.string(), "-c:a", "aac", m4a.string()});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  auto whisper = backend({.chunk_long_audio = true});
  qorl_core::run_sync(whisper.convert(m4a.string()));
  const auto sent = qorl_testing::decode_audio(only_upload().part("file")->data);
  EXPECT_EQ(sent.sample_rate, 22050);
  EXPECT_EQ(sent.channels, 1);
  EXPECT_NEAR(sent.frames / 22050.0, 2.0, 0.1);
}

// Recordings far longer than anyone should send whole, against bounded memory.
class HostileAudio : public WhisperTest {
 protected:
  // A 16 kHz mono 16-bit WAV of `seconds` whose samples were never written: a sparse file that
  // reads as silence and takes no disk.
  std::filesystem::path sparse_wav(const std::string& name, std::uint32_t seconds) {
    const std::uint32_t data_bytes = seconds * 16000 * 2;
    std::ostringstream header;
    const auto put = [&](std::uint32_t value, int bytes) {
      for (int i = 0; i < bytes; ++i) header.put(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    header << "RIFF";
    put(36 + data_bytes, 4);
    header << "WAVEfmt ";
    put(16, 4);
    put(1, 2);  // PCM
    put(1, 2);  // channels
    put(16000, 4);
    put(32000, 4);  // bytes a second
    put(2, 2);      // bytes a frame
    put(16, 2);     // bits a sample
    header << "data";
    put(data_bytes, 4);
    const auto path = dir_.write(name, header.str());
    std::filesystem::resize_file(path, 44 + std::uintmax_t{data_bytes});
    return path;
  }
  // `seconds` of pink noise (which FLAC barely compresses) at 16 kHz, written by sox.
  std::filesystem::path pink_noise(const std::string& name, int seconds) {
    const auto path = dir_.path() / name;
    const auto made =
        qorl_testing::run_process({"sox", "-n", "-r", "16000", "-c", "1", "-b", "16", path.string(),
                                   "synth", std::to_string(seconds), "pinknoise", "vol", "0.3"});
    EXPECT_EQ(made.exit_code, 0) << made.err;
    return path;
  }
};

TEST_F(HostileAudio, LongRecordingWithoutChunkingIsRefusedAtOnce) {
  const auto path = sparse_wav("six-hours.wav", 6 * 3600);
  auto whisper = backend();
  const auto run = qorl_testing::run_in_child([&] {
    qorl_core::run_sync(whisper.convert(path.string()));
    return std::string("converted");
  });
  EXPECT_THAT(run.result, HasSubstr("Audio of 6:00:00 is too long to reduce"));
  EXPECT_THAT(run.result, HasSubstr("chunk_long_audio (the command's --chunk)"));
  // Refused from its header: the 691 MB of samples were never read.
  RecordProperty("peak_growth_MiB", std::to_string(run.peak_growth() >> 20));
  if (qorl_testing::kMemoryMeasurable) {
    EXPECT_LT(run.peak_growth(), std::size_t{64} << 20);
  }
  EXPECT_TRUE(server_.uploads().empty());

  // A shorter one is not refused for its length.
  const auto short_path = sparse_wav("one-minute.wav", 60);
  qorl_core::run_sync(whisper.convert(short_path.string()));
  EXPECT_EQ(server_.uploads().size(), 1u);
}

TEST_F(HostileAudio, ChunkedMemoryDoesNotGrowWithLength) {
  if (!qorl_testing::kMemoryMeasurable) GTEST_SKIP() << "memory is not measured under sanitizers";
  server_.echo_durations();
  const auto path = pink_noise("two-hours.wav", 2 * 3600);
  auto whisper = backend({.chunk_long_audio = true});
  const auto run = qorl_testing::run_in_child([&] {
    const auto transcript = qorl_core::run_sync(whisper.convert(path.string()));
    return std::to_string(transcript.size()) + " " + std::to_string(transcript.back().end_time);
  });
  std::istringstream result(run.result);
  std::size_t records = 0;
  double end = 0;
  ASSERT_TRUE(result >> records >> end) << run.result;
  const auto uploads = server_.uploads();
  EXPECT_EQ(records, uploads.size());
  EXPECT_GE(uploads.size(), 8u);
  EXPECT_NEAR(end, 7200.0, 1e-6);
  for (const auto& upload : uploads) EXPECT_LE(upload.part("file")->data.size(), MAX_AUDIO_SIZE);
  // The 230 MB recording, decoded, would be 920 MB: only a piece's samples and the few pieces
  // in flight are held.
  RecordProperty("peak_growth_MiB", std::to_string(run.peak_growth() >> 20));
  EXPECT_LT(run.peak_growth(), std::size_t{400} << 20);
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text
