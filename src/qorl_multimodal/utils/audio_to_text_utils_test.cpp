#include "qorl_multimodal/utils/audio_to_text_utils.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "clients/process/process.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/utils/sound_file.hpp"
#include "testing/audio.hpp"
#include "testing/http_server.hpp"
#include "testing/log_capture.hpp"
#include "testing/loopback.hpp"
#include "testing/run_program.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::utils::audio_to_text_utils {
namespace {

using qorl_core::run_sync;

namespace fs = std::filesystem;
using qorl_core::Bytes;
using qorl_testing::AudioContainer;
using qorl_testing::sine_audio;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kLogger = "qorl_multimodal.utils.audio_to_text_utils";

Bytes wav(int channels = 1, int rate = 8000, double seconds = 0.25) {
  return Bytes(sine_audio(AudioContainer::WAV, channels, rate, seconds));
}

std::string random_bytes(std::size_t n) {
  std::mt19937 gen(7);
  std::string out(n, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

TEST(IsBinaryDataAudioTest, AcceptsEveryReadableContainerLayoutAndRate) {
  for (auto container : {AudioContainer::WAV, AudioContainer::FLAC, AudioContainer::OGG,
                         AudioContainer::MP3, AudioContainer::AIFF}) {
    for (int channels : {1, 2}) {
      for (int rate : {8000, 16000, 44100, 48000}) {
        EXPECT_TRUE(is_binary_data_audio(Bytes(sine_audio(container, channels, rate, 0.2))))
            << static_cast<int>(container) << " " << channels << " " << rate;
      }
    }
  }
  EXPECT_TRUE(is_binary_data_audio(wav(1, 16000, 0.0)));  // no frames at all
}

TEST(IsBinaryDataAudioTest, RejectsWithTheDecoderError) {
  qorl_testing::LogCapture capture;
  EXPECT_FALSE(is_binary_data_audio(Bytes()));
  EXPECT_FALSE(is_binary_data_audio(Bytes(random_bytes(4096))));
  const auto lines = capture.messages(kLogger);
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines) {
    EXPECT_THAT(line,
                StartsWith("The provided binary data is not a valid audio file with error: "));
  }
}

TEST(IsBinaryDataAudioTest, DecodesBeyondTheHeader) {
  // A FLAC whose frames after the header are garbage: the header alone looks fine.
  std::string flac = sine_audio(AudioContainer::FLAC, 1, 16000, 2.0);
  const std::string noise = random_bytes(flac.size() / 2);
  flac.replace(flac.size() / 4, noise.size(), noise);
  EXPECT_NO_THROW(sound_file::Reader{flac});
  EXPECT_FALSE(is_binary_data_audio(Bytes(flac)));
}

TEST(GetAudioFromFilePathTest, ReturnsExactBytesOfAnAudioFileAndNoneOtherwise) {
  qorl_testing::TempDir dir;
  const Bytes audio = wav();
  const auto good = dir.write("a.wav", audio.view());
  const auto text = dir.write("notes.txt", "not audio");
  ASSERT_EQ(::mkfifo((dir.path() / "pipe").c_str(), 0600), 0);

  qorl_testing::LogCapture capture;
  EXPECT_EQ(get_audio_from_file_path(good.string()), audio);
  EXPECT_EQ(get_audio_from_file_path((dir.path() / "missing.wav").string()), std::nullopt);
  EXPECT_EQ(get_audio_from_file_path(dir.path().string()), std::nullopt);
  EXPECT_EQ(get_audio_from_file_path(text.string()), std::nullopt);
  EXPECT_EQ(get_audio_from_file_path(good.string() + std::string(1, '\0') + "x"), std::nullopt);
  // A FIFO nobody writes to would block a reader forever.
  EXPECT_EQ(get_audio_from_file_path((dir.path() / "pipe").string()), std::nullopt);

  const std::string missing = (dir.path() / "missing.wav").string();
  EXPECT_TRUE(capture.contains(
      "The provided audio source is not a valid audio file path with error: [Errno 2] No such "
      "file or directory: '" +
      missing + "'"));
  EXPECT_TRUE(capture.contains(
      "The provided audio source is not a valid audio file path with error: [Errno 21] Is a "
      "directory: '" +
      dir.path().string() + "'"));
  EXPECT_TRUE(capture.contains("Attempting to read audio file from file path: " + text.string()));
}

TEST(GetAudioFromBase64Test, DecodesStrictBase64OfAudioOnly) {
  const Bytes audio = wav();
  const std::string encoded = qorl_core::base64_encode(audio.view());
  qorl_testing::LogCapture capture;
  EXPECT_EQ(get_audio_from_base64(encoded), audio);
  EXPECT_EQ(get_audio_from_base64("/tmp/a.wav"), std::nullopt);
  EXPECT_EQ(get_audio_from_base64(encoded.substr(0, 76) + "\n" + encoded.substr(76)), std::nullopt);
  EXPECT_EQ(get_audio_from_base64(qorl_core::base64_encode("plain text, not audio")), std::nullopt);
  EXPECT_EQ(get_audio_from_base64("data:audio/wav;base64," + encoded), std::nullopt);
  EXPECT_TRUE(capture.contains(
      "The provided audio source is not a valid base64 encoded audio string with error: "
      "Invalid base64-encoded string"));
  EXPECT_TRUE(capture.contains("Attempting to decode base64 encoded audio string: /tmp/a.wav"));
}

class DownloadableUrlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/a.wav", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(audio_.str(), "audio/wav");
    });
    server_.server().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/a.wav");
    });
    server_.server().Get("/page", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body>hello</body></html>", "text/html");
    });
    server_.start();
  }
  Bytes audio_ = wav();
  qorl_testing::HttpServer server_;
};

TEST_F(DownloadableUrlTest, ReturnsAudioBodiesOfSuccessfulAnswersOnly) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url(server_.url("/a.wav"))), audio_);
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url(server_.url("/moved"))), audio_);
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url(server_.url("/page"))), std::nullopt);
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url(server_.url("/missing"))), std::nullopt);
  EXPECT_TRUE(capture.contains("Failed to download audio with response status code: 404"));
  EXPECT_TRUE(capture.contains("Attempting to download audio from downloadable URL: " +
                               server_.url("/a.wav")));
}

TEST_F(DownloadableUrlTest, RejectsWhatIsNotAnHttpUrlWithoutSending) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url("/tmp/a.wav")), std::nullopt);
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url("file:///etc/passwd")), std::nullopt);
  const auto closed = "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url(closed + "/a.wav", 5)), std::nullopt);
  const auto lines = capture.messages(kLogger);
  EXPECT_THAT(
      lines,
      ElementsAre(
          "Attempting to download audio from downloadable URL: /tmp/a.wav",
          "The provided audio source is not a valid downloadable URL with error: Invalid URL "
          "'/tmp/a.wav': No scheme supplied",
          "Attempting to download audio from downloadable URL: file:///etc/passwd",
          "The provided audio source is not a valid downloadable URL with error: No connection "
          "adapters were found for 'file:///etc/passwd'",
          "Attempting to download audio from downloadable URL: " + closed + "/a.wav",
          StartsWith("The provided audio source is not a valid downloadable URL with error: ")));
}

TEST_F(DownloadableUrlTest, LogsSignedUrlsWithoutTheirSignature) {
  qorl_testing::LogCapture capture;
  run_sync(get_audio_from_downloadable_url(server_.url("/a.wav?X-Amz-Signature=abc123&part=1")));
  EXPECT_TRUE(capture.contains("Attempting to download audio from downloadable URL: " +
                               server_.url("/a.wav?X-Amz-Signature=REDACTED&part=1")));
  for (const auto& line : capture.messages()) EXPECT_THAT(line, Not(HasSubstr("abc123")));
}

// A host that is slow to answer: `timeout` bounds the wait, retries included.
class HostileAudioDownload : public DownloadableUrlTest {};

TEST_F(HostileAudioDownload, SlowAnswerIsAskedForOnce) {
  // Shared with the handler, which may outlive the test body by a moment.
  auto asked = std::make_shared<std::atomic<int>>(0);
  auto released = std::make_shared<std::atomic<bool>>(false);
  server_.server().Get("/late.wav", [=](const httplib::Request&, httplib::Response& res) {
    ++*asked;
    for (int i = 0; i < 300 && !*released; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    res.set_content("late", "audio/wav");
  });
  EXPECT_EQ(run_sync(get_audio_from_downloadable_url(server_.url("/late.wav"), 1)), std::nullopt);
  *released = true;
  EXPECT_EQ(*asked, 1);
}

TEST(AudioBytesTest, DurationIsFramesOverRate) {
  EXPECT_DOUBLE_EQ(get_audio_duration(wav(1, 8000, 1.0)), 1.0);
  EXPECT_DOUBLE_EQ(get_audio_duration(wav(2, 16000, 0.5)), 0.5);
  EXPECT_THROW(get_audio_duration(Bytes(random_bytes(100))), sound_file::SoundFileError);
}

TEST(AudioBytesTest, MonoFlacIsTheChannelMeanAt24BitsAndTheInputRate) {
  qorl_testing::LogCapture capture;
  const std::string input = sine_audio(AudioContainer::WAV, 2, 44100, 0.5);
  const Bytes flac = convert_audio_to_mono_flac(Bytes(input));
  const auto in = qorl_testing::decode_audio(input);
  const auto out = qorl_testing::decode_audio(flac.str());
  EXPECT_EQ(out.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  EXPECT_EQ(out.channels, 1);
  EXPECT_EQ(out.sample_rate, 44100);
  ASSERT_EQ(out.frames, in.frames);
  for (long long f = 0; f < out.frames; ++f) {
    const double mean = (in.samples[2 * f] + in.samples[2 * f + 1]) / 2;
    ASSERT_NEAR(out.samples[f], mean, 1.0 / (1 << 23)) << f;
  }
  EXPECT_THAT(capture.messages(kLogger),
              ElementsAre("Converting audio to mono FLAC format",
                          "Successfully converted audio to mono FLAC format"));
  EXPECT_THROW(convert_audio_to_mono_flac(Bytes(random_bytes(100))), sound_file::SoundFileError);
}

TEST(AudioBytesTest, FormatIsTheContainersShortName) {
  qorl_testing::LogCapture capture;
  EXPECT_EQ(detect_audio_format(wav()), "wav");
  EXPECT_EQ(detect_audio_format(Bytes(sine_audio(AudioContainer::FLAC, 1, 8000, 0.1))), "flac");
  EXPECT_EQ(detect_audio_format(Bytes(sine_audio(AudioContainer::OGG, 2, 48000, 0.1))), "ogg");
  EXPECT_EQ(detect_audio_format(Bytes(sine_audio(AudioContainer::MP3, 1, 44100, 0.1))), "mp3");
  EXPECT_EQ(detect_audio_format(Bytes(sine_audio(AudioContainer::AIFF, 1, 8000, 0.1))), "aiff");
  EXPECT_EQ(detect_audio_format(Bytes(random_bytes(512))), std::nullopt);
  const auto lines = capture.messages(kLogger);
  EXPECT_EQ(lines.front(), "Detected audio format: wav");
  EXPECT_THAT(lines.back(), StartsWith("Failed to detect audio format with error: "));
}

TEST(IsYoutubeUrlTest, MatchesTheDomainsStrictly) {
  for (const char* yes :
       {"https://youtu.be/dQw4w9WgXcQ", "www.youtube.com/watch?v=abc", "HTTPS://YouTube.com",
        "http://m.youtube.com/watch?v=x", "youtube.com", "https://youtu.be/x\n"}) {
    EXPECT_TRUE(is_youtube_url(yes)) << yes;
  }
  for (const char* no :
       {"https://music.youtube.com/watch?v=x", "https://youtube.com?v=x",
        "https://youtube.com:443/watch", "", "https://user@youtube.com/x", "ftp://youtube.com",
        "https://youtube.com/x\n\n", "https://youtube.com/a\nb", " youtube.com",
        "https://youtube.co", "https://youtubeXcom/"}) {
    EXPECT_FALSE(is_youtube_url(no)) << no;
  }
  EXPECT_FALSE(is_youtube_url(std::string("youtube.com/\xff\xfe")));
  EXPECT_TRUE(is_youtube_url("youtube.com/" + std::string(1 << 20, 'a')));  // no recursion limit
}

// ---- YouTube download -------------------------------------------------------------------

// Downloads land in the system temporary directory; point it at a directory of the test's own
// to see that nothing stays behind.
class YoutubeDownloadTest : public ::testing::Test {
 protected:
  qorl_testing::TempDir work_;
  qorl_testing::TempDir tmp_;
  qorl_testing::ScopedEnv tmpdir_;

  void SetUp() override { tmpdir_.set("TMPDIR", tmp_.path().string()); }

  bool temp_is_empty() const { return fs::is_empty(tmp_.path()); }

  // A stand-in for yt-dlp: records its arguments, then runs `body` (sh) with $out set to the
  // output template.
  std::string fake_yt_dlp(const std::string& body) const {
    const auto path = work_.write("yt-dlp",
                                  "#!/bin/sh\n"
                                  "printf '%s\\n' \"$@\" > '" +
                                      (work_.path() / "args").string() +
                                      "'\n"
                                      "out=\n"
                                      "while [ $# -gt 0 ]; do\n"
                                      "  [ \"$1\" = --output ] && out=\"$2\"\n"
                                      "  shift\n"
                                      "done\n"
                                      "dir=$(dirname \"$out\")\n" +
                                      body);
    fs::permissions(path, fs::perms::owner_all);
    return path.string();
  }
  std::vector<std::string> recorded_args() const {
    std::ifstream in(work_.path() / "args");
    std::vector<std::string> args;
    for (std::string line; std::getline(in, line);) args.push_back(line);
    return args;
  }
};

TEST_F(YoutubeDownloadTest, RealYtDlpFetchesALoopbackVideoAndLeavesNothingBehind) {
  const auto mp4 = work_.path() / "clip.mp4";
  const auto made =
      qorl_testing::run_process({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                                 "sine=frequency=440:duration=1", "-c:a", "aac", mp4.string()});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  std::ifstream in(mp4, std::ios::binary);
  const std::string video{std::istreambuf_iterator<char>(in), {}};
  qorl_testing::HttpServer server;
  server.server().Get("/clip.mp4", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(video, "video/mp4");
  });
  server.start();

  qorl_testing::LogCapture capture;
  // Two downloads of one video at once must not remove each other's file.
  std::optional<Bytes> first, second;
  std::thread other([&] { second = get_audio_from_youtube_url(server.url("/clip.mp4")); });
  first = get_audio_from_youtube_url(server.url("/clip.mp4"));
  other.join();
  for (const auto* audio : {&first, &second}) {
    ASSERT_TRUE(audio->has_value()) << ::testing::PrintToString(capture.messages(kLogger));
    EXPECT_EQ(detect_audio_format(**audio), "flac");
    EXPECT_NEAR(get_audio_duration(**audio), 1.0, 0.05);
  }
  EXPECT_TRUE(temp_is_empty());
}

TEST_F(YoutubeDownloadTest, YoutubeHostsAreOnlyReachedThroughTheGivenProxy) {
  // The proxy is a closed loopback port: the real yt-dlp fails without leaving the machine.
  const std::string proxy =
      "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
  qorl_testing::LogCapture capture;
  EXPECT_EQ(get_audio_from_youtube_url("https://www.youtube.com/watch?v=dQw4w9WgXcQ", proxy),
            std::nullopt);
  EXPECT_THAT(capture.messages(kLogger),
              ElementsAre("Attempting to extract audio from YouTube URL: "
                          "https://www.youtube.com/watch?v=dQw4w9WgXcQ",
                          StartsWith("The provided audio source is not a valid YouTube URL with "
                                     "error: ERROR: ")));
  EXPECT_TRUE(temp_is_empty());
}

TEST_F(YoutubeDownloadTest, PassesTheDownloadOptionsAsArgumentsAndReadsTheReportedFile) {
  // The tool reports its id and extension from before post-processing; the file is elsewhere.
  const std::string flac = sine_audio(AudioContainer::FLAC, 2, 16000, 0.5);
  const auto source = work_.write("source.flac", flac);
  qorl_testing::ScopedEnv tool;
  tool.set("QORL_YT_DLP", fake_yt_dlp("cp '" + source.string() +
                                      "' \"$dir/vid.opus\"\n"
                                      "printf '{\"id\": \"vid\", \"ext\": \"webm\", \"filepath\": "
                                      "\"%s\"}\\n' \"$dir/vid.opus\"\n"));
  qorl_testing::ScopedEnv no_ffmpeg_override;
  no_ffmpeg_override.unset("QORL_FFMPEG");

  const auto audio = get_audio_from_youtube_url("https://youtu.be/vid; rm -rf /", "");
  ASSERT_TRUE(audio.has_value());
  EXPECT_EQ(qorl_testing::decode_audio(audio->str()).frames, 8000);
  const auto args = recorded_args();
  EXPECT_THAT(args,
              ::testing::IsSupersetOf({"--format", "m4a/bestaudio/best", "--no-playlist",
                                       "--extract-audio", "--audio-format", "m4a", "--quiet"}));
  EXPECT_THAT(args, Not(::testing::Contains("--proxy")));  // an empty proxy is no proxy
  ASSERT_GE(args.size(), 2u);
  EXPECT_EQ(args[args.size() - 2], "--");
  EXPECT_EQ(args.back(), "https://youtu.be/vid; rm -rf /");
  EXPECT_TRUE(temp_is_empty());
}

TEST_F(YoutubeDownloadTest, FailuresAndMissingIdsReturnNoneAndRemoveTheDownload) {
  qorl_testing::LogCapture capture;
  {
    qorl_testing::ScopedEnv tool;
    tool.set("QORL_YT_DLP",
             fake_yt_dlp("echo partial > \"$dir/x.m4a.part\"\n"
                         "echo 'ERROR: [youtube] x: Video unavailable' >&2\nexit 1\n"));
    EXPECT_EQ(get_audio_from_youtube_url("https://youtu.be/x", "socks5://127.0.0.1:9"),
              std::nullopt);
    EXPECT_THAT(recorded_args(), ::testing::IsSupersetOf({"--proxy", "socks5://127.0.0.1:9"}));
  }
  {
    qorl_testing::ScopedEnv tool;
    tool.set("QORL_YT_DLP",
             fake_yt_dlp("echo data > \"$dir/NA.m4a\"\nprintf '{\"title\": \"no id\"}\\n'\n"));
    EXPECT_EQ(get_audio_from_youtube_url("https://youtu.be/y"), std::nullopt);
  }
  {
    qorl_testing::ScopedEnv tool;
    tool.set("QORL_YT_DLP", (work_.path() / "missing-program").string());
    EXPECT_EQ(get_audio_from_youtube_url("https://youtu.be/z"), std::nullopt);
  }
  EXPECT_TRUE(capture.contains(
      "The provided audio source is not a valid YouTube URL with error: ERROR: [youtube] x: "
      "Video unavailable"));
  EXPECT_TRUE(capture.contains("Failed to get video ID from YouTube URL: https://youtu.be/y"));
  EXPECT_TRUE(capture.contains(
      "The provided audio source is not a valid YouTube URL with error: cannot run " +
      (work_.path() / "missing-program").string() + ": No such file or directory"));
  EXPECT_TRUE(temp_is_empty());
}

TEST_F(YoutubeDownloadTest, LocalPathsAndOtherSchemesNeverReachYtDlp) {
  qorl_testing::ScopedEnv tool;
  tool.set("QORL_YT_DLP", fake_yt_dlp("exit 1\n"));
  const auto text = work_.write("notes.m4a", "not media");
  for (const std::string& source :
       {text.string(), std::string("/no/such/file.m4a"), std::string("relative.webm"),
        std::string("file:///tmp/a.mp3")}) {
    EXPECT_EQ(get_audio_from_youtube_url(source), std::nullopt) << source;
  }
  EXPECT_FALSE(fs::exists(work_.path() / "args"));
}

// ---- Media libsndfile does not read ---------------------------------------------------------

// Two seconds of a 440 Hz tone in each container, made by ffmpeg; the video ones carry a picture.
class FfmpegMediaTest : public ::testing::TestWithParam<std::vector<std::string>> {
 protected:
  std::string make() const {
    const std::vector<std::string>& encoding = GetParam();
    const fs::path path = dir_.path() / encoding[0];
    std::vector<std::string> argv{
        "ffmpeg", "-nostdin", "-loglevel", "error",
        "-f",     "lavfi",    "-i",        "sine=frequency=440:duration=2:sample_rate=48000"};
    argv.insert(argv.end(), encoding.begin() + 1, encoding.end());
    argv.push_back(path.string());
    const auto made = qorl_testing::run_process(argv);
    EXPECT_EQ(made.exit_code, 0) << made.err;
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  qorl_testing::TempDir dir_;
};

TEST_P(FfmpegMediaTest, ReadsMeasuresAndConvertsThroughFfmpeg) {
  const std::string media = make();
  const auto read = get_audio_from_file_path((dir_.path() / GetParam()[0]).string());
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->str(), media);  // the file itself, not its decoding
  EXPECT_TRUE(is_binary_data_audio(Bytes(media)));
  EXPECT_NEAR(get_audio_duration(Bytes(media)), 2.0, 0.1);
  boost::asio::thread_pool encoders(1);
  const Bytes flac = convert_audio_to_mono_flac(Bytes(media));
  EXPECT_EQ(qorl_core::run_sync(async_convert_audio_to_mono_flac(Bytes(media))).str(), flac.str());
  EXPECT_EQ(
      qorl_core::run_sync(async_convert_audio_to_mono_flac(Bytes(media), encoders.get_executor()))
          .str(),
      flac.str());
  const auto decoded = qorl_testing::decode_audio(flac.str());
  EXPECT_EQ(decoded.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  EXPECT_EQ(decoded.channels, 1);
  EXPECT_EQ(decoded.sample_rate, 48000);
  EXPECT_NEAR(decoded.frames / 48000.0, 2.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Containers, FfmpegMediaTest,
                         ::testing::Values(std::vector<std::string>{"a.m4a", "-c:a", "aac"},
                                           std::vector<std::string>{"a.mp4", "-f", "lavfi", "-i",
                                                                    "color=size=64x48:duration=2",
                                                                    "-c:a", "aac", "-shortest"},
                                           std::vector<std::string>{"a.webm", "-f", "lavfi", "-i",
                                                                    "color=size=64x48:duration=2",
                                                                    "-c:a", "libopus", "-c:v",
                                                                    "libvpx", "-shortest"},
                                           std::vector<std::string>{"a.opus", "-c:a", "libopus"},
                                           std::vector<std::string>{"a.mp3", "-c:a", "libmp3lame"}),
                         [](const auto& info) { return info.param[0].substr(2); });

TEST(FfmpegFallbackTest, WhatNeitherDecoderReadsKeepsLibsndfilesError) {
  EXPECT_FALSE(is_binary_data_audio(Bytes("not audio at all")));
  EXPECT_THROW(get_audio_duration(Bytes("not audio at all")), sound_file::SoundFileError);
  EXPECT_EQ(detect_audio_format(Bytes("not audio at all")), std::nullopt);
}

}  // namespace
}  // namespace qorl_multimodal::utils::audio_to_text_utils
