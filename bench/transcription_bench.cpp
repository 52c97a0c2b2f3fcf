// Concurrent transcriptions on one event-loop thread: 50 conversions started together against
// fake services behind a proxy that holds every answer for 200 ms. With nothing blocking the
// loop, the wall time is the service's delays along one conversion (its exchanges one after
// another) plus the CPU the loop spends; `ratio` compares the two.
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "bench/peers.hpp"
#include "clients/process/process.hpp"
#include "qorl_core/blocking_work.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "qorl_multimodal/utils/s3_utils.hpp"
#include "testing/audio.hpp"
#include "testing/child_memory.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fake_openai.hpp"
#include "testing/fake_prosa.hpp"
#include "testing/fake_s3.hpp"
#include "testing/fake_speech.hpp"
#include "testing/fake_storage.hpp"
#include "testing/fake_youtube.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/google_fakes.hpp"
#include "testing/http_server.hpp"
#include "testing/run_program.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace {

namespace asio = boost::asio;
namespace audio_to_text = qorl_multimodal::modality_converter::audio_to_text;
using namespace std::chrono_literals;

constexpr auto kServiceDelay = 200ms;

// Runs `count` conversions made by `convert` together on one loop and reports wall and CPU time
// against the ideal: `exchanges` service delays in a row.
void run_concurrently(benchmark::State& state, int exchanges,
                      const std::function<asio::awaitable<bool>()>& convert) {
  const auto count = static_cast<int>(state.range(0));
  double cpu_ms = 0;
  double wall_ms = 0;
  for (auto _ : state) {
    asio::io_context io;
    int converted = 0;
    for (int i = 0; i < count; ++i) {
      asio::co_spawn(
          io,
          [&]() -> asio::awaitable<void> {
            if (co_await convert()) ++converted;
          },
          asio::detached);
    }
    const std::clock_t cpu_start = std::clock();
    const auto wall_start = std::chrono::steady_clock::now();
    io.run();
    wall_ms +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_start)
            .count();
    cpu_ms += 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    if (converted != count) state.SkipWithError("some conversions failed");
  }
  const double runs = static_cast<double>(state.iterations());
  const double ideal_ms = exchanges * static_cast<double>(kServiceDelay.count());
  state.counters["ideal_ms"] = ideal_ms;
  state.counters["cpu_ms_per_conversion"] = cpu_ms / runs / count;
  state.counters["ratio"] = (wall_ms / runs) / (ideal_ms + cpu_ms / runs);
}

// One second of tone, as a file.
std::string write_tone(const qorl_testing::TempDir& dir) {
  return dir
      .write("tone.wav", qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 16000, 1.0))
      .string();
}

template <typename Converter>
std::function<asio::awaitable<bool>()> transcribing(Converter& converter, std::string source) {
  return [&converter, source]() -> asio::awaitable<bool> {
    const auto transcripts = co_await converter.convert(source);
    co_return !transcripts.empty();
  };
}

void BM_Whisper(benchmark::State& state) {
  qorl_testing::TempDir dir;
  qorl_testing::FakeOpenAI service;
  service.set_transcript("english", {{" Hello.", 0.0, 1.0}}, {});
  qorl_testing::FaultProxy slow(service.base_url());
  slow.delay_answers(kServiceDelay);
  audio_to_text::OpenAIWhisperAudioToText whisper(
      {.api_key = qorl_testing::FakeOpenAI::kApiKey, .base_url = slow.url("/v1")});
  run_concurrently(state, 1, transcribing(whisper, write_tone(dir)));
}

void BM_GoogleCloud(benchmark::State& state) {
  qorl_testing::TempDir dir;
  qorl_testing::FakeGoogle google;
  qorl_testing::FakeStorage storage(google);
  qorl_testing::FakeSpeech speech(google, storage);
  qorl_testing::FaultProxy slow(speech.endpoint());
  slow.delay_answers(kServiceDelay);
  speech.finish_with({{"Selamat pagi.", "1s", "id-id"}});
  qorl_testing::ScopedEnv env;
  env.set("QORL_SPEECH_ENDPOINT", slow.url());
  audio_to_text::GoogleCloudAudioToText cloud(
      {.credentials_json = dir.write("key.json", google.account().key_json()).string(),
       .bucket_name = "bench"});
  // The token exchange is not delayed; recognition and the first poll are.
  run_concurrently(state, 2, transcribing(cloud, write_tone(dir)));
}

void BM_Prosa(benchmark::State& state) {
  qorl_testing::TempDir dir;
  qorl_testing::FakeProsa service;
  service.set_result_data(
      R"([{"channel": 0, "transcript": "Halo.", "time_start": 0, "time_end": 1}])");
  qorl_testing::FaultProxy slow(service.url());
  slow.delay_answers(kServiceDelay);
  audio_to_text::ProsaAudioToText prosa(
      {.api_key = qorl_testing::FakeProsa::kApiKey, .url = slow.url("/v2/speech/stt")});
  run_concurrently(state, 2, transcribing(prosa, write_tone(dir)));
}

void BM_YouTube(benchmark::State& state) {
  qorl_testing::TempDir dir;
  qorl_testing::FakeYouTube service;
  service.add_video("vid00000001",
                    {qorl_testing::FakeYouTube::Playability::kOk,
                     true,
                     {{"id", "Indonesian", false,
                       R"(<transcript><text start="0" dur="1">Halo</text></transcript>)"}}});
  qorl_testing::FaultProxy slow(service.base_url());
  slow.delay_answers(kServiceDelay);
  const auto yt_dlp = dir.write("yt-dlp", "#!/bin/sh\necho '{\"id\": \"vid00000001\"}'\n");
  std::filesystem::permissions(yt_dlp, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  qorl_testing::ScopedEnv env;
  env.set("QORL_YOUTUBE_BASE_URL", slow.url()).set("QORL_YT_DLP", yt_dlp.string());
  audio_to_text::YouTubeTranscriptAudioToText youtube;
  // The watch page and the player answer twice (the tracks are listed to choose one, then to
  // fetch it); the timed text comes from the service itself.
  run_concurrently(
      state, 4, transcribing(youtube, std::string("https://www.youtube.com/watch?v=vid00000001")));
}

void BM_Gemini(benchmark::State& state) {
  qorl_testing::TempDir dir;
  qorl_testing::FakeGeminiServer service;
  service.set_answer_text(
      R"({"audio_transcripts": [{"text": "Halo.", "start_time": 0, "end_time": 1, "lang_id": "id"}]})");
  qorl_testing::FaultProxy slow(service.base_url());
  slow.delay_answers(kServiceDelay);
  audio_to_text::GeminiAudioToText gemini({.api_key = service.api_key(), .base_url = slow.url()});
  run_concurrently(state, 1, transcribing(gemini, write_tone(dir)));
}

// Sources: an audio URL, and an S3 object.
void BM_UrlSource(benchmark::State& state) {
  qorl_testing::TempDir dir;
  qorl_testing::HttpServer files;
  const std::string tone =
      qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 16000, 1.0);
  files.server().Get("/tone.wav",
                     [&](const auto&, auto& res) { res.set_content(tone, "audio/wav"); });
  files.start();
  qorl_testing::FaultProxy slow(files.url());
  slow.delay_answers(kServiceDelay);
  const std::string url = slow.url("/tone.wav");
  run_concurrently(state, 1, [&]() -> asio::awaitable<bool> {
    co_return (
        co_await qorl_multimodal::utils::audio_to_text_utils::get_audio_from_downloadable_url(url))
        .has_value();
  });
}

void BM_S3Source(benchmark::State& state) {
  qorl_testing::FakeS3 s3("AKID", "secret");
  s3.put("bench", "tone.wav",
         qorl_testing::sine_audio(qorl_testing::AudioContainer::WAV, 1, 16000, 1.0));
  qorl_testing::FaultProxy slow(s3.endpoint());
  slow.delay_answers(kServiceDelay);
  qorl_testing::ScopedEnv env;
  env.set("AWS_ENDPOINT_URL_S3", slow.url())
      .set("AWS_REGION", "us-east-1")
      .set("AWS_ACCESS_KEY_ID", "AKID")
      .set("AWS_SECRET_ACCESS_KEY", "secret")
      .set("AWS_EC2_METADATA_DISABLED", "true");
  run_concurrently(state, 1, []() -> asio::awaitable<bool> {
    co_return (co_await qorl_multimodal::utils::s3_utils::get_file_from_s3("s3://bench/tone.wav"))
        .has_value();
  });
}

// A two-hour recording (pink noise with a pause every 50 s) sent in pieces at 16 kHz, four at a
// time, to a service that answers each after 200 ms.
void BM_ChunkedLongRecording(benchmark::State& state) {
  qorl_testing::TempDir dir;
  const std::string path = (dir.path() / "long.wav").string();
  const auto made = qorl_testing::run_process({"sox", "-n", "-r", "16000", "-c", "1", "-b", "16",
                                               path, "synth", "50", "pinknoise", "vol", "0.3",
                                               "pad", "0", "1", "repeat", "143"});
  if (made.exit_code != 0) return state.SkipWithError(("sox failed: " + made.err).c_str());
  qorl_testing::FakeOpenAI service;
  service.echo_durations();
  qorl_testing::FaultProxy slow(service.base_url());
  slow.delay_answers(kServiceDelay);
  audio_to_text::OpenAIWhisperAudioToText whisper({.api_key = qorl_testing::FakeOpenAI::kApiKey,
                                                   .base_url = slow.url("/v1"),
                                                   .chunk_long_audio = true});
  std::size_t records = 0;
  for (auto _ : state) {
    records = qorl_core::run_sync(whisper.convert(path)).size();
  }
  state.counters["records"] = static_cast<double>(records);
  state.counters["requests"] = static_cast<double>(slow.requests("/audio/transcriptions")) /
                               static_cast<double>(state.iterations());
}
BENCHMARK(BM_ChunkedLongRecording)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// Peak memory of Whisper on a six-hour 16 kHz pink-noise WAV (691 MB; $QORL_BENCH_LONG_SECONDS
// sets another length): sent in pieces with chunk_long_audio, and refused without it. Each runs
// in a child process of its own; `growth` is the peak over what the child held when it began.
void BM_WhisperLongRecordingPeakMemory(benchmark::State& state) {
  const char* seconds = std::getenv("QORL_BENCH_LONG_SECONDS");
  qorl_testing::TempDir dir;
  const std::string path = (dir.path() / "long.wav").string();
  const auto made =
      qorl_testing::run_process({"sox", "-n", "-r", "16000", "-c", "1", "-b", "16", path, "synth",
                                 seconds ? seconds : "21600", "pinknoise", "vol", "0.3"});
  if (made.exit_code != 0) return state.SkipWithError(("sox failed: " + made.err).c_str());
  qorl_testing::FakeOpenAI service;
  service.echo_durations();
  const auto transcribe = [&](bool chunk) {
    return qorl_testing::run_in_child([&] {
      audio_to_text::OpenAIWhisperAudioToText whisper({.api_key = qorl_testing::FakeOpenAI::kApiKey,
                                                       .base_url = service.base_url(),
                                                       .chunk_long_audio = chunk});
      return std::to_string(qorl_core::run_sync(whisper.convert(path)).size()) + " pieces";
    });
  };
  constexpr double kMiB = 1048576.0;
  for (auto _ : state) {
    // Refused first: the fake service's copies of the pieces would count in a child forked after.
    const auto refused = transcribe(false);
    const auto start = std::chrono::steady_clock::now();
    const auto chunked = transcribe(true);
    state.counters["chunked_s"] = qorl_bench::seconds_since(start);
    state.counters["chunked_peak_MiB"] = static_cast<double>(chunked.peak_rss) / kMiB;
    state.counters["chunked_growth_MiB"] = static_cast<double>(chunked.peak_growth()) / kMiB;
    state.counters["refused_peak_MiB"] = static_cast<double>(refused.peak_rss) / kMiB;
    state.counters["refused_growth_MiB"] = static_cast<double>(refused.peak_growth()) / kMiB;
    state.SetLabel(chunked.result + "; without chunking: " + refused.result.substr(0, 60));
  }
}
BENCHMARK(BM_WhisperLongRecordingPeakMemory)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

// Fifty 30-second AAC recordings on one loop, the pool sized to the cores decoding them, against
// Whisper answering after 200 ms; and the command with --jobs 50 over the same files. `ratio` is
// the wall time over the least it can be: the service's delay plus one conversion's CPU, or all
// the CPU spread over the cores, whichever is longer.
struct M4aCorpus {
  qorl_testing::TempDir dir;
  std::vector<std::string> paths;
  qorl_testing::FakeOpenAI service;
  qorl_testing::FaultProxy slow{service.base_url()};

  M4aCorpus() {
    service.set_transcript("english", {{" Hello.", 0.0, 1.0}}, {});
    slow.delay_answers(kServiceDelay);
    const std::string first = (dir.path() / "talk0.m4a").string();
    const auto made = qorl_testing::run_process({"ffmpeg", "-nostdin", "-loglevel", "error", "-f",
                                                 "lavfi", "-i", "sine=frequency=300:duration=30",
                                                 "-ac", "2", "-ar", "44100", "-c:a", "aac", first});
    if (made.exit_code != 0) throw std::runtime_error("ffmpeg failed: " + made.err);
    for (int i = 0; i < 50; ++i) {
      const auto path = dir.path() / ("talk" + std::to_string(i) + ".m4a");
      if (i > 0) std::filesystem::copy_file(first, path);
      paths.push_back(path.string());
    }
  }
};

// CPU seconds of this process and of its waited-for children (ffmpeg) so far.
double cpu_seconds_with_children() {
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    ::getrusage(who, &usage);
    total += seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }
  return total;
}

double least_seconds(double cpu_seconds, std::size_t count) {
  const double cores = std::max(1u, std::thread::hardware_concurrency());
  return std::max(std::chrono::duration<double>(kServiceDelay).count() + cpu_seconds / count,
                  cpu_seconds / cores);
}

void BM_WhisperM4a(benchmark::State& state) {
  M4aCorpus corpus;
  audio_to_text::OpenAIWhisperAudioToText whisper(
      {.api_key = qorl_testing::FakeOpenAI::kApiKey, .base_url = corpus.slow.url("/v1")});
  asio::thread_pool pool(std::max(1u, std::thread::hardware_concurrency()));
  qorl_core::set_default_blocking_executor(pool.get_executor());
  double ratio = 0;
  double cpu_total = 0;
  for (auto _ : state) {
    asio::io_context io;
    std::size_t converted = 0;
    for (const auto& path : corpus.paths) {
      asio::co_spawn(
          io,
          [&, path]() -> asio::awaitable<void> {
            if (!(co_await whisper.convert(path)).empty()) ++converted;
          },
          asio::detached);
    }
    const double cpu_start = cpu_seconds_with_children();
    const auto wall_start = std::chrono::steady_clock::now();
    io.run();
    const double wall = qorl_bench::seconds_since(wall_start);
    const double cpu = cpu_seconds_with_children() - cpu_start;
    ratio += wall / least_seconds(cpu, corpus.paths.size());
    cpu_total += cpu;
    if (converted != corpus.paths.size()) state.SkipWithError("some conversions failed");
  }
  qorl_core::set_default_blocking_executor(std::nullopt);
  const double runs = static_cast<double>(state.iterations());
  state.counters["ratio"] = ratio / runs;
  state.counters["cpu_s"] = cpu_total / runs;
}

void BM_CommandWhisperM4a(benchmark::State& state) {
  M4aCorpus corpus;
  std::vector<std::string> argv = {
      "/usr/bin/env",
      "OPENAI_API_KEY=" + std::string(qorl_testing::FakeOpenAI::kApiKey),
      "OPENAI_BASE_URL=" + corpus.slow.url("/v1"),
      QORL_CLI_PATH,
      "-q",
      "transcribe",
      "-b",
      "whisper",
      "--jobs",
      "50",
      "--output-dir",
      (corpus.dir.path() / "out").string()};
  argv.insert(argv.end(), corpus.paths.begin(), corpus.paths.end());
  double ratio = 0;
  double cpu_total = 0;
  for (auto _ : state) {
    const double cpu_start = cpu_seconds_with_children();
    const auto wall_start = std::chrono::steady_clock::now();
    const auto ran = qorl_testing::run_process(argv);
    const double wall = qorl_bench::seconds_since(wall_start);
    const double cpu = cpu_seconds_with_children() - cpu_start;
    ratio += wall / least_seconds(cpu, corpus.paths.size());
    cpu_total += cpu;
    if (ran.exit_code != 0) state.SkipWithError(("the command failed: " + ran.err).c_str());
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["ratio"] = ratio / runs;
  state.counters["cpu_s"] = cpu_total / runs;
}

void configure(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
}

const int registered = [] {
  const std::pair<const char*, void (*)(benchmark::State&)> backends[] = {
      {"whisper", BM_Whisper},
      {"google-cloud", BM_GoogleCloud},
      {"prosa", BM_Prosa},
      {"youtube", BM_YouTube},
      {"gemini", BM_Gemini},
      {"url", BM_UrlSource},
      {"s3", BM_S3Source},
      {"whisper-m4a", BM_WhisperM4a},
      {"command-whisper-m4a", BM_CommandWhisperM4a}};
  for (const auto& [name, function] : backends) {
    configure(benchmark::RegisterBenchmark(
        (std::string("BM_ConcurrentTranscriptions/") + name).c_str(), function));
  }
  return 0;
}();

}  // namespace
