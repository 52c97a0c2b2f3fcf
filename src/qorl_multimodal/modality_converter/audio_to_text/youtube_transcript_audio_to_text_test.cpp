#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "clients/process/process.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"
#include "testing/fake_youtube.hpp"
#include "testing/log_capture.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text::youtube_transcript_audio_to_text {
namespace {

using qorl_core::run_sync;

namespace fs = std::filesystem;
namespace youtube = clients::youtube;
using qorl_testing::FakeYouTube;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The package offers the backend by name.
static_assert(
    std::is_same_v<qorl_multimodal::modality_converter::audio_to_text::YouTubeTranscriptAudioToText,
                   YouTubeTranscriptAudioToText>);

class Transcripts : public YouTubeTranscriptAudioToText {
 public:
  using YouTubeTranscriptAudioToText::YouTubeTranscriptAudioToText;
  using YouTubeTranscriptAudioToText::_extract_video_id;
  using YouTubeTranscriptAudioToText::_get_transcript;
  using YouTubeTranscriptAudioToText::_select_best_transcript_lang_id;
};

constexpr const char* kToolError = "ERROR: [youtube] abc: Unable to download API page: refused";

FakeYouTube::Track manual(std::string code, std::string timed_text = "<transcript/>") {
  return {std::move(code), "name", false, std::move(timed_text)};
}
FakeYouTube::Track generated(std::string code) {
  return {std::move(code), "name", true, "<transcript/>"};
}

class YouTubeTranscriptTest : public ::testing::Test {
 protected:
  YouTubeTranscriptTest() {
    env_.set("QORL_YOUTUBE_BASE_URL", youtube_.base_url());
    fake_yt_dlp(R"(echo '{"id": "vid00000001", "title": "A video"}')");
  }
  // A yt-dlp stand-in that records its arguments and then runs `body`.
  void fake_yt_dlp(const std::string& body) {
    const fs::path path =
        dir_.write("yt-dlp", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n" + body + "\n");
    fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
    env_.set("QORL_YT_DLP", path.string());
  }
  void failing_yt_dlp() { fake_yt_dlp(std::string("echo '") + kToolError + "' >&2; exit 1"); }
  std::vector<std::string> yt_dlp_arguments() const {
    std::ifstream in(dir_.path() / "yt-dlp.args");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::string select(const std::vector<FakeYouTube::Track>& tracks, Transcripts::Params params) {
    const std::string id = "select" + std::to_string(++videos_);
    youtube_.add_video(id, {FakeYouTube::Playability::kOk, true, tracks});
    return run_sync(Transcripts(std::move(params))._select_best_transcript_lang_id(id));
  }

  FakeYouTube youtube_;
  qorl_testing::TempDir dir_;
  qorl_testing::ScopedEnv env_;
  int videos_ = 0;
};

TEST_F(YouTubeTranscriptTest, ConvertsALinkIntoTimedRecordsOfTheSelectedTrack) {
  youtube_.add_video(
      "vid00000001",
      {FakeYouTube::Playability::kOk,
       true,
       {generated("id"),
        manual("en", R"(<transcript><text start="1.5" dur="2.25">Hello &amp;amp; welcome</text>)"
                     R"(<text start="3.75" dur="1">bye</text></transcript>)")}});
  const qorl_testing::LogCapture logs;
  YouTubeTranscriptAudioToText backend;
  const std::string link = "https://www.youtube.com/watch?v=vid00000001";
  const auto records = qorl_core::run_sync(backend.convert(link));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, "Hello & welcome");
  EXPECT_DOUBLE_EQ(records[0].start_time, 1.5);
  EXPECT_DOUBLE_EQ(records[0].end_time, 3.75);
  EXPECT_EQ(records[0].lang_id, "en");
  EXPECT_DOUBLE_EQ(records[1].end_time, 4.75);
  EXPECT_THAT(
      logs.messages("YouTubeTranscriptAudioToText"),
      ElementsAre("Converting YouTube URL: " + link, "Extracted video ID: vid00000001",
                  "Available manual language IDs: ['en']",
                  "Available auto generated language IDs: ['id']", "Selected language ID: en",
                  "Getting transcript for video ID: vid00000001, language ID: en",
                  "Successfully fetched transcript with 2 snippets"));
  // Metadata only, never a download; the link comes last, never taken for an option.
  const auto arguments = yt_dlp_arguments();
  EXPECT_THAT(arguments, Contains("--dump-json"));
  EXPECT_THAT(arguments, Contains("--skip-download"));
  EXPECT_THAT(arguments, Contains("--no-playlist"));
  EXPECT_THAT(arguments, Contains("--quiet"));
  EXPECT_THAT(arguments, Not(Contains("--proxy")));
  EXPECT_THAT(arguments, Not(Contains("--extract-audio")));
  ASSERT_GE(arguments.size(), 2u);
  EXPECT_THAT(std::vector(arguments.end() - 2, arguments.end()), ElementsAre("--", link));
}

TEST_F(YouTubeTranscriptTest, SelectsManualPreferredThenManualThenGeneratedTracks) {
  const auto both = [](std::optional<std::vector<std::string>> preferred = std::nullopt) {
    return Transcripts::Params{std::move(preferred), true, true, std::nullopt};
  };
  // Preference order wins over track order.
  EXPECT_EQ(select({manual("en"), manual("id")}, {}), "id");
  // An empty preference list is the default one.
  EXPECT_EQ(select({manual("de"), manual("en")}, {std::vector<std::string>{}}), "en");
  EXPECT_THROW(select({manual("de")}, {}), qorl_core::ValueError);
  EXPECT_EQ(select({manual("de"), manual("fr")}, {std::nullopt, true, false, std::nullopt}), "de");
  // Generated tracks only with permission.
  try {
    select({generated("en")}, {});
    ADD_FAILURE();
  } catch (const qorl_core::ValueError& e) {
    EXPECT_STREQ(e.what(),
                 "No suitable transcript found - either no transcripts are available in preferred "
                 "languages, or auto-generated/non-preferred language transcripts are disabled in "
                 "settings");
  }
  EXPECT_EQ(select({generated("en")}, {std::nullopt, false, true, std::nullopt}), "en");
  // A manual track in another language beats a generated one in a preferred language.
  EXPECT_EQ(select({generated("id"), manual("fr")}, both()), "fr");
  EXPECT_EQ(select({generated("id"), manual("fr")}, {std::nullopt, false, true, std::nullopt}),
            "id");
  EXPECT_EQ(select({generated("ja"), generated("de")}, both(std::vector<std::string>{"ko"})), "ja");
  EXPECT_THROW(select({generated("ja")}, {std::nullopt, true, false, std::nullopt}),
               qorl_core::ValueError);
}

TEST_F(YouTubeTranscriptTest, ServiceFailuresBecomeValueErrorsCausedByTheServiceError) {
  youtube_.add_video(
      "potoken0001",
      {FakeYouTube::Playability::kOk, true, {{"id", "Indonesian", false, "", true}}});
  const Transcripts backend;
  const auto expect_failure = [](auto call, const std::string& prefix, auto* kind) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const qorl_core::ValueError& e) {
      EXPECT_THAT(e.what(), StartsWith(prefix + "Could not retrieve a transcript for the video"));
      try {
        std::rethrow_if_nested(e);
        ADD_FAILURE() << "no cause";
      } catch (const youtube::CouldNotRetrieveTranscript& cause) {
        EXPECT_NE(dynamic_cast<const std::remove_pointer_t<decltype(kind)>*>(&cause), nullptr);
        EXPECT_THAT(e.what(), EndsWith(cause.what()));
      }
    }
  };
  expect_failure([&] { run_sync(backend._select_best_transcript_lang_id("missing0001")); },
                 "Failed to fetch available transcripts - Video ID: missing0001, Error: ",
                 static_cast<youtube::VideoUnavailable*>(nullptr));
  expect_failure([&] { run_sync(backend._get_transcript("potoken0001", "id")); },
                 "Failed to fetch transcript - Video ID: potoken0001, Language: id, with error: ",
                 static_cast<youtube::PoTokenRequired*>(nullptr));
  expect_failure([&] { run_sync(backend._get_transcript("potoken0001", "en")); },
                 "Failed to fetch transcript - Video ID: potoken0001, Language: en, with error: ",
                 static_cast<youtube::NoTranscriptFound*>(nullptr));
}

// Answers every source with one record, and keeps the sources it was given.
class RecordingBackend : public audio_to_text::BaseAudioToText {
 public:
  boost::asio::awaitable<std::vector<AudioTranscript>> convert(std::string source) override {
    sources.push_back(source);
    AudioTranscript record;
    record.text = "Transcribed.";
    record.end_time = 2.0;
    co_return std::vector<AudioTranscript>{record};
  }
  std::vector<std::string> sources;
};

TEST_F(YouTubeTranscriptTest, VideosWithoutAcceptableCaptionsGoToTheFallbackBackend) {
  using Route = YouTubeTranscriptAudioToText::Route;
  const std::string link = "https://youtu.be/vid00000001";
  auto fallback = std::make_shared<RecordingBackend>();
  YouTubeTranscriptAudioToText backend({.fallback_backend = fallback});
  const auto via = [&](FakeYouTube::Video video) {
    youtube_.add_video("vid00000001", std::move(video));
    const auto routed = run_sync(backend.transcribe(link));
    EXPECT_FALSE(routed.transcripts.empty());
    return routed.via;
  };
  const FakeYouTube::Playability ok = FakeYouTube::Playability::kOk;
  EXPECT_EQ(via({ok, false, {}}), Route::kFallback);                // captions disabled
  EXPECT_EQ(via({ok, true, {manual("fr")}}), Route::kFallback);     // another language only
  EXPECT_EQ(via({ok, true, {generated("id")}}), Route::kFallback);  // generated not allowed
  EXPECT_EQ(fallback->sources, std::vector<std::string>(3, link));
  EXPECT_EQ(
      via({ok,
           true,
           {manual("id", R"(<transcript><text start="0" dur="1">Halo</text></transcript>)")}}),
      Route::kCaptions);
  EXPECT_EQ(fallback->sources.size(), 3u);

  // A bot check is not a lack of captions: an error of its own that suggests a proxy.
  youtube_.add_video("vid00000001", {FakeYouTube::Playability::kBotCheck, true, {}});
  try {
    run_sync(backend.transcribe(link));
    ADD_FAILURE() << "no error";
  } catch (const RequestBlockedError& error) {
    EXPECT_THAT(error.what(),
                HasSubstr("YouTube blocked the caption requests for video vid00000001"));
    EXPECT_THAT(error.what(), HasSubstr("--proxy"));
  }
  EXPECT_EQ(fallback->sources.size(), 3u);

  // Without a fallback, a video without captions fails as before.
  youtube_.add_video("vid00000001", {ok, false, {}});
  EXPECT_THROW(run_sync(YouTubeTranscriptAudioToText().convert(link)), qorl_core::ValueError);
}

TEST_F(YouTubeTranscriptTest, CaptionsAreTranslatedWhereTheVideoOffersIt) {
  FakeYouTube::Video video{
      FakeYouTube::Playability::kOk,
      true,
      {manual("id", R"(<transcript><text start="0" dur="1">Halo</text></transcript>)")}};
  video.translations = {"en", "fr"};
  youtube_.add_video("vid00000001", video);
  const auto first = [&](std::optional<std::string> target) {
    YouTubeTranscriptAudioToText backend({.translate_to = std::move(target)});
    const auto records = run_sync(backend.convert("https://youtu.be/vid00000001"));
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? AudioTranscript() : records[0];
  };
  const AudioTranscript translated = first("en");
  EXPECT_EQ(translated.text, "[en] id");
  EXPECT_EQ(translated.lang_id, "en");
  EXPECT_EQ(first("de").text, "Halo");  // not offered: the captions as they are
  EXPECT_EQ(first("id").text, "Halo");
}

TEST_F(YouTubeTranscriptTest, FallsBackToTheLinkPatternsAfterTheToolsDownloadErrorOnly) {
  Transcripts::Params params;
  params.proxy = "http://127.0.0.1:9";
  EXPECT_EQ(run_sync(Transcripts(params)._extract_video_id("https://youtu.be/abcdefghijk")),
            "vid00000001");
  EXPECT_THAT(yt_dlp_arguments(), Contains("--proxy"));
  EXPECT_THAT(yt_dlp_arguments(), Contains("http://127.0.0.1:9"));

  failing_yt_dlp();
  const Transcripts backend;
  const qorl_testing::LogCapture logs;
  // `v` after another parameter: the second expression.
  EXPECT_EQ(run_sync(backend._extract_video_id(
                "https://www.youtube.com/watch?feature=share&v=dQw4w9WgXcQ&t=9")),
            "dQw4w9WgXcQ");
  EXPECT_THAT(logs.messages("Transcripts"),
              ElementsAre(std::string("yt-dlp failed to extract video ID, trying regex fallback. "
                                      "Error: ") +
                          kToolError));
  EXPECT_EQ(run_sync(backend._extract_video_id("see youtu.be/abc_EFG-123xyz please")),
            "abc_EFG-123");
  // Word characters of every script, counted as characters.
  EXPECT_EQ(
      run_sync(backend._extract_video_id("https://m.youtube.com/shorts/\u00c4bcd\u00e9fghijkL")),
      "\u00c4bcd\u00e9fghijk");
  EXPECT_EQ(run_sync(backend._extract_video_id(
                "https://www.youtube.com/embed/\u0661\u0662\u0663_____-ab")),
            "\u0661\u0662\u0663_____-ab");
  for (const char* no_id : {"https://www.youtube.com/embed/short",
                            "https://YOUTUBE.COM/watch?v=dQw4w9WgXcQ", "just words"}) {
    try {
      run_sync(backend._extract_video_id(no_id));
      ADD_FAILURE() << no_id;
    } catch (const qorl_core::ValueError& e) {
      EXPECT_EQ(e.what(),
                std::string("Unable to identify video ID from the provided YouTube URL: ") + no_id +
                    ". yt-dlp error: " + kToolError);
    }
  }

  // Not a download error: the tool could not even start.
  env_.set("QORL_YT_DLP", (dir_.path() / "missing-tool").string());
  EXPECT_THROW(run_sync(backend._extract_video_id("https://youtu.be/abcdefghijk")),
               clients::process::ProcessError);
}

TEST_F(YouTubeTranscriptTest, TheRealToolFailsBehindAClosedProxyAndThePatternsTakeOver) {
  env_.unset("QORL_YT_DLP");
  Transcripts::Params params;
  params.proxy = "http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port());
  const Transcripts backend(params);
  const qorl_testing::LogCapture logs;
  EXPECT_EQ(run_sync(backend._extract_video_id(
                "https://www.youtube.com/watch?feature=share&v=dQw4w9WgXcQ")),
            "dQw4w9WgXcQ");
  EXPECT_THAT(logs.messages("Transcripts"),
              ElementsAre(StartsWith("yt-dlp failed to extract video ID, trying regex fallback. "
                                     "Error: ERROR: [youtube] dQw4w9WgXcQ: ")));
}

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text::youtube_transcript_audio_to_text
