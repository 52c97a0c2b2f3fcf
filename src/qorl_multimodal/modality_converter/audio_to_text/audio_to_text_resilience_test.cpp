// Every transcription backend against its fake service behind a proxy that fails requests on
// cue: retryable failures end in the usual transcript, a silent or endless service in a clear
// error within the deadline, and a cancelled conversion ends at once and closes its connection.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include "clients/http/policy.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"
#include "testing/audio.hpp"
#include "testing/cancellation.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fake_openai.hpp"
#include "testing/fake_prosa.hpp"
#include "testing/fake_youtube.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/scoped_call_policy.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::modality_converter::audio_to_text {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using audio_to_text::BaseAudioToText;
using qorl_testing::Fault;
using qorl_testing::FaultProxy;

// A backend wired to its fake service through a fault proxy.
struct Rig {
  virtual ~Rig() = default;
  virtual FaultProxy& proxy() = 0;
  std::unique_ptr<BaseAudioToText> backend;
  std::string source;
  // The exchange faults hit; it is safe to repeat.
  std::string path_part;
};

std::string write_wav(const qorl_testing::TempDir& dir) {
  return dir
      .write("tone.wav", qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 16000, 1.0))
      .string();
}

struct WhisperRig : Rig {
  WhisperRig() {
    fake.set_transcript("english", {{" Hello.", 0.0, 1.0}}, {});
    backend = std::make_unique<openai_whisper_audio_to_text::OpenAIWhisperAudioToText>(
        openai_whisper_audio_to_text::OpenAIWhisperAudioToText::Params{
            .api_key = qorl_testing::FakeOpenAI::kApiKey, .base_url = faults.url("/v1")});
    source = write_wav(dir);
    path_part = "/audio/transcriptions";
  }
  FaultProxy& proxy() override { return faults; }
  qorl_testing::TempDir dir;
  qorl_testing::FakeOpenAI fake;
  FaultProxy faults{fake.base_url()};
};

struct ProsaRig : Rig {
  ProsaRig() {
    fake.set_result_data(
        R"([{"channel": 0, "transcript": "Halo.", "time_start": 0, "time_end": 1}])");
    backend = std::make_unique<prosa_audio_to_text::ProsaAudioToText>(
        prosa_audio_to_text::ProsaAudioToText::Params{.api_key = qorl_testing::FakeProsa::kApiKey,
                                                      .url = faults.url("/v2/speech/stt")});
    source = write_wav(dir);
    path_part = "/v2/speech/stt/";  // the result queries; a submission is not repeated
  }
  FaultProxy& proxy() override { return faults; }
  qorl_testing::TempDir dir;
  qorl_testing::FakeProsa fake;
  FaultProxy faults{fake.url()};
};

struct YouTubeRig : Rig {
  YouTubeRig() {
    fake.add_video("vid00000001",
                   {qorl_testing::FakeYouTube::Playability::kOk,
                    true,
                    {{"id", "Indonesian", false,
                      R"(<transcript><text start="0" dur="1">Halo</text></transcript>)"}}});
    env.set("QORL_YOUTUBE_BASE_URL", faults.url());
    // A yt-dlp that fails: the video id comes from the link itself.
    const fs::path yt_dlp = dir.write("yt-dlp", "#!/bin/sh\necho 'ERROR: offline' >&2\nexit 1\n");
    fs::permissions(yt_dlp, fs::perms::owner_exec, fs::perm_options::add);
    env.set("QORL_YT_DLP", yt_dlp.string());
    backend = std::make_unique<youtube_transcript_audio_to_text::YouTubeTranscriptAudioToText>();
    source = "https://www.youtube.com/watch?v=vid00000001";
    path_part = "/youtubei/v1/player";
  }
  FaultProxy& proxy() override { return faults; }
  qorl_testing::TempDir dir;
  qorl_testing::ScopedEnv env;
  qorl_testing::FakeYouTube fake;
  FaultProxy faults{fake.base_url()};
};

struct GeminiRig : Rig {
  GeminiRig() {
    fake.set_answer_text(
        R"({"audio_transcripts": [{"text": "Halo.", "start_time": 0, "end_time": 1, "lang_id": "id"}]})");
    backend = std::make_unique<gemini_audio_to_text::GeminiAudioToText>(
        gemini_audio_to_text::GeminiAudioToText::Params{
            .api_key = fake.api_key(), .max_retries = 3, .timeout = 0.0, .base_url = faults.url()});
    source = write_wav(dir);
    path_part = ":generateContent";
  }
  FaultProxy& proxy() override { return faults; }
  qorl_testing::TempDir dir;
  qorl_testing::FakeGeminiServer fake;
  FaultProxy faults{fake.base_url()};
};

using RigFactory = std::function<std::unique_ptr<Rig>()>;

template <typename T>
RigFactory rig() {
  return [] { return std::make_unique<T>(); };
}

class AudioToTextResilienceTest
    : public ::testing::TestWithParam<std::pair<const char*, RigFactory>> {
 protected:
  std::unique_ptr<Rig> make_rig() const { return GetParam().second(); }
};

TEST_P(AudioToTextResilienceTest, RetryableFailuresEndInTheUsualTranscript) {
  auto rig = make_rig();
  FaultProxy& proxy = rig->proxy();
  const auto expected = qorl_core::run_sync(rig->backend->convert(rig->source));
  ASSERT_FALSE(expected.empty());
  const int per_conversion = proxy.requests(rig->path_part);

  proxy.inject(Fault::answer(429, {{"Retry-After", "2"}}), rig->path_part);
  proxy.inject(Fault::answer(429, {{"Retry-After", "Wed, 21 Oct 2099 07:28:00 GMT"}}),
               rig->path_part);
  proxy.inject(Fault::answer(503), rig->path_part);
  const int before = proxy.requests(rig->path_part);
  const auto recovered = qorl_core::run_sync(rig->backend->convert(rig->source));
  EXPECT_EQ(proxy.requests(rig->path_part) - before, per_conversion + 3);
  ASSERT_EQ(recovered.size(), expected.size());
  EXPECT_EQ(recovered[0].text, expected[0].text);
  EXPECT_EQ(recovered[0].end_time, expected[0].end_time);

  proxy.inject(Fault::reset(), rig->path_part);
  EXPECT_EQ(qorl_core::run_sync(rig->backend->convert(rig->source)).size(), expected.size());
}

TEST_P(AudioToTextResilienceTest, SilentAndEndlessServicesEndInAnErrorWithinTheLimits) {
  clients::http::CallPolicy policy = clients::http::default_call_policy();
  policy.retry.max_attempts = 2;
  policy.retry.deadline = 500ms;
  policy.max_answer_bytes = 1 << 20;
  const qorl_testing::ScopedCallPolicy scoped(policy);
  auto rig = make_rig();
  rig->proxy().inject(Fault::hang(), rig->path_part, 5);
  EXPECT_ANY_THROW(qorl_core::run_sync(rig->backend->convert(rig->source)));

  auto endless = make_rig();
  endless->proxy().inject(Fault::endless_body(), endless->path_part, 5);
  EXPECT_ANY_THROW(qorl_core::run_sync(endless->backend->convert(endless->source)));
  // Cut at the cap: not asked for again.
  EXPECT_EQ(endless->proxy().requests(endless->path_part), 1);
}

TEST_P(AudioToTextResilienceTest, CancellationEndsTheConversionAndItsTransfer) {
  auto rig = make_rig();
  FaultProxy& proxy = rig->proxy();
  proxy.inject(Fault::hang(), rig->path_part);
  // Cancelled once the request is held by the silent server.
  EXPECT_TRUE(qorl_testing::ends_cancelled(rig->backend->convert(rig->source),
                                           [&] { return proxy.requests(rig->path_part) > 0; }));
  EXPECT_TRUE(proxy.all_closed_within(2s));
}

INSTANTIATE_TEST_SUITE_P(Backends, AudioToTextResilienceTest,
                         ::testing::Values(std::pair{"whisper", rig<WhisperRig>()},
                                           std::pair{"prosa", rig<ProsaRig>()},
                                           std::pair{"youtube", rig<YouTubeRig>()},
                                           std::pair{"gemini", rig<GeminiRig>()}),
                         [](const auto& info) { return std::string(info.param.first); });

}  // namespace
}  // namespace qorl_multimodal::modality_converter::audio_to_text
