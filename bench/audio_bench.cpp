// Mono FLAC conversion and Whisper's size reduction of a 30-minute 44.1 kHz stereo pink-noise
// WAV, each beside its peer in the same run: ffmpeg (and sox) for the conversion, the
// soundfile + numpy script ../shared/bench/ref_audio.py (or $QORL_REF_AUDIO) for the reduction.
// Wall time and peak memory.
//
//   cmake --preset bench && cmake --build --preset bench --target qorl_bench
//   ./build/bench/bench/qorl_bench --benchmark_filter='Flac|Reduce'
#include <benchmark/benchmark.h>

#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "bench/peers.hpp"
#include "clients/process/process.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "testing/run_program.hpp"
#include "testing/temp_dir.hpp"

namespace {

using qorl_core::Bytes;
namespace whisper =
    qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text;

class Reducer : public whisper::OpenAIWhisperAudioToText {
 public:
  Reducer() : OpenAIWhisperAudioToText({.api_key = "unused"}) {}
  using OpenAIWhisperAudioToText::_reduce_file_size;
};

Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::string(std::istreambuf_iterator<char>(in), {}));
}

// Seconds of the recording: 1800, or $QORL_BENCH_AUDIO_SECONDS (shorter runs under a profiler).
std::string recording_seconds() {
  const char* seconds = std::getenv("QORL_BENCH_AUDIO_SECONDS");
  return seconds ? seconds : "1800";
}

// Pink noise compresses about as badly as music: two reduction steps are needed.
struct Fixture {
  qorl_testing::TempDir dir;
  std::string wav_path = (dir.path() / "long.wav").string();
  std::string mono_flac_path = (dir.path() / "mono.flac").string();
  Bytes wav;
  Bytes mono_flac;

  Fixture() {
    const auto made =
        qorl_testing::run_process({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav_path,
                                   "synth", recording_seconds(), "pinknoise", "vol", "0.3"});
    if (made.exit_code != 0) throw std::runtime_error("sox failed: " + made.err);
    wav = read_file(wav_path);
    mono_flac = qorl_multimodal::utils::audio_to_text_utils::convert_audio_to_mono_flac(wav);
    std::ofstream(mono_flac_path, std::ios::binary)
        .write(mono_flac.str().data(), static_cast<std::streamsize>(mono_flac.size()));
  }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

std::string ref_audio_script() {
  if (const char* path = std::getenv("QORL_REF_AUDIO")) return path;
  return QORL_SOURCE_ROOT "/../shared/bench/ref_audio.py";
}

void BM_ConvertAudioToMonoFlac(benchmark::State& state) {
  Fixture& f = fixture();
  const double before = qorl_bench::status_mib("VmRSS");
  qorl_bench::reset_peak_memory();
  double ours = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(
        qorl_multimodal::utils::audio_to_text_utils::convert_audio_to_mono_flac(f.wav));
    ours = qorl_bench::seconds_since(start);
  }
  state.counters["peak_MiB_over_input"] = qorl_bench::status_mib("VmHWM") - before;

  std::string failure;
  const auto ffmpeg_to = [&](const std::vector<std::string>& sample_options) {
    std::vector<std::string> argv{"ffmpeg",   "-nostdin", "-loglevel", "error", "-y",  "-i",
                                  f.wav_path, "-ac",      "1",         "-c:a",  "flac"};
    argv.insert(argv.end(), sample_options.begin(), sample_options.end());
    argv.push_back((f.dir.path() / "ffmpeg.flac").string());
    return qorl_bench::run_peer(argv, failure);
  };
  // ffmpeg keeps the input's 16 bits; we write the 24 bits asked of us, so ffmpeg writing 24
  // bits is measured too.
  const auto ffmpeg = ffmpeg_to({});
  if (!ffmpeg) return state.SkipWithError(failure.c_str());
  qorl_bench::report_against_peer(state, ours, ffmpeg->seconds);
  state.counters["peer_peak_MiB"] = ffmpeg->peak_mib;
  if (const auto ffmpeg_24 = ffmpeg_to({"-sample_fmt", "s32", "-bits_per_raw_sample", "24"})) {
    state.counters["peer_24bit_s"] = ffmpeg_24->seconds;
    state.counters["time_vs_24bit_peer"] = ours / ffmpeg_24->seconds;
  }
  if (const auto sox = qorl_bench::run_peer(
          {"sox", f.wav_path, "-c", "1", (f.dir.path() / "sox.flac").string()}, failure)) {
    state.counters["sox_s"] = sox->seconds;
  }
}

void BM_ReduceFileSize(benchmark::State& state) {
  Fixture& f = fixture();
  // As a service would run it: with a pool for blocking work, whose threads the step shares.
  boost::asio::thread_pool workers(std::max(1U, std::thread::hardware_concurrency()));
  Reducer reducer;
  reducer.set_blocking_executor(workers.get_executor());
  // A service converts many files: only the first conversion in a process pays for memory the
  // machine has not handed it before (on a VM, the host's first touch too).
  const double before = qorl_bench::status_mib("VmRSS");
  qorl_bench::reset_peak_memory();
  auto start = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(reducer._reduce_file_size(f.mono_flac));
  state.counters["first_s"] = qorl_bench::seconds_since(start);
  double ours = 0;
  std::size_t reduced_bytes = 0;
  for (auto _ : state) {
    start = std::chrono::steady_clock::now();
    reduced_bytes = reducer._reduce_file_size(f.mono_flac).size();
    ours = qorl_bench::seconds_since(start);
  }
  state.counters["process_peak_MiB"] = qorl_bench::status_mib("VmHWM");
  // The step's own peak: over what the process held before, the benchmark's WAV and FLAC among it.
  state.counters["peak_MiB_over_start"] = qorl_bench::status_mib("VmHWM") - before;
  state.counters["reduced_MiB"] = reduced_bytes / 1048576.0;
  // And on the calling thread alone, as without an executor.
  const Reducer alone;
  start = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(alone._reduce_file_size(f.mono_flac));
  const double alone_seconds = qorl_bench::seconds_since(start);
  state.counters["alone_s"] = alone_seconds;

  const std::string script = ref_audio_script();
  if (!std::filesystem::exists(script))
    return qorl_bench::note_peer_skipped(state, script + " not found");
  if (const auto missing = qorl_bench::missing_python_modules({"numpy", "soundfile"})) {
    return qorl_bench::note_peer_skipped(state, *missing);
  }
  std::string failure;
  const auto peer =
      qorl_bench::run_peer({"/usr/bin/python3", script, "reduce", f.mono_flac_path}, failure);
  if (!peer) return state.SkipWithError(failure.c_str());
  // "reduce FILE: 11.40 s, N bytes, peak M MB": the script times the step alone, as we do.
  const auto colon = peer->out.rfind(": ");
  const double peer_seconds = std::stod(peer->out.substr(colon + 2));
  qorl_bench::report_against_peer(state, ours, peer_seconds);
  state.counters["alone_vs_peer"] = alone_seconds / peer_seconds;
  state.counters["peer_peak_MiB"] = peer->peak_mib;
}

// Seconds to minutes of work per run on two shared cores: one iteration each, wall time.
BENCHMARK(BM_ConvertAudioToMonoFlac)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceFileSize)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
