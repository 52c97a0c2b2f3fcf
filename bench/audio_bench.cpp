// Mono FLAC conversion and Whisper size reduction on a 30-minute 44.1 kHz stereo WAV, beside
// ffmpeg and sox doing the mono FLAC conversion of the same file. Wall time and peak memory.
//
//   cmake --preset bench && cmake --build --preset bench --target qorl_bench
//   ./build/bench/bench/qorl_bench --benchmark_filter='Flac|Reduce' 
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>
#include <random>
#include <string>

#include "clients/process/process.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/utils/audio_to_text_utils.hpp"
#include "testing/temp_dir.hpp"

namespace {

using qorl_core::Bytes;
namespace whisper = qorl_multimodal::modality_converter::audio_to_text::openai_whisper_audio_to_text;

constexpr int kRate = 44100;
constexpr long long kFrames = 30LL * 60 * kRate;

class Reducer : public whisper::OpenAIWhisperAudioToText {
 public:
  Reducer() : OpenAIWhisperAudioToText({.api_key = "unused"}) {}
  using OpenAIWhisperAudioToText::_reduce_file_size;
};

// Tones with some noise: speech-like compressibility, several reduction steps.
struct Fixture {
  qorl_testing::TempDir dir;
  std::string wav_path = (dir.path() / "long.wav").string();
  Bytes wav;
  Bytes mono_flac;

  Fixture() {
    SF_INFO info{0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(wav_path.c_str(), SFM_WRITE, &info);
    std::mt19937 gen(5);
    std::normal_distribution<> noise(0.0, 0.05);
    std::vector<double> block(2 * 65536);
    for (long long start = 0; start < kFrames; start += 65536) {
      const long long count = std::min<long long>(65536, kFrames - start);
      for (long long f = 0; f < count; ++f) {
        const double t = double(start + f) / kRate;
        block[2 * f] = 0.3 * std::sin(2 * std::numbers::pi * 220 * t) + noise(gen);
        block[2 * f + 1] = 0.3 * std::sin(2 * std::numbers::pi * 330 * t) + noise(gen);
      }
      sf_writef_double(file, block.data(), count);
    }
    sf_close(file);
    std::ifstream in(wav_path, std::ios::binary);
    wav = Bytes(std::string(std::istreambuf_iterator<char>(in), {}));
    mono_flac = qorl_multimodal::utils::audio_to_text_utils::convert_audio_to_mono_flac(wav);
  }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

// Peak resident memory of this process from now on (Linux: clear_refs 5 resets the mark).
void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }
double status_mib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024;
  }
  return 0;
}

void BM_ConvertAudioToMonoFlac(benchmark::State& state) {
  Fixture& f = fixture();
  const double before = status_mib("VmRSS");
  reset_peak();
  for (auto _ : state) {
    benchmark::DoNotOptimize(qorl_multimodal::utils::audio_to_text_utils::convert_audio_to_mono_flac(f.wav));
  }
  state.counters["peak_MiB_over_input"] = status_mib("VmHWM") - before;
}

// The peer runs under GNU time, which reports the peer's own peak (a program started straight
// from this process would be charged this process's memory at its start).
void run_peer(benchmark::State& state, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M"});
  double peak_kib = 0;
  for (auto _ : state) {
    const auto result = clients::process::run_process(argv);
    if (result.exit_code != 0) {
      state.SkipWithError(("failed: " + result.err).c_str());
      return;
    }
    const auto last_line = result.err.find_last_of('\n', result.err.size() - 2);
    peak_kib = std::max(peak_kib, std::stod(result.err.substr(last_line == std::string::npos ? 0 : last_line + 1)));
  }
  state.counters["peak_MiB"] = peak_kib / 1024;
}

void BM_FfmpegMonoFlac(benchmark::State& state) {
  Fixture& f = fixture();
  run_peer(state, {"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", f.wav_path, "-ac", "1",
                   "-c:a", "flac", (f.dir.path() / "ffmpeg.flac").string()});
}

void BM_SoxMonoFlac(benchmark::State& state) {
  Fixture& f = fixture();
  run_peer(state, {"sox", f.wav_path, "-c", "1", (f.dir.path() / "sox.flac").string()});
}

void BM_ReduceFileSize(benchmark::State& state) {
  Fixture& f = fixture();
  const Reducer reducer;
  const double before = status_mib("VmRSS");
  reset_peak();
  for (auto _ : state) benchmark::DoNotOptimize(reducer._reduce_file_size(f.mono_flac));
  const double peak = status_mib("VmHWM") - before;
  const double mono_mib = kFrames * sizeof(double) / 1048576.0;
  state.counters["peak_MiB_over_input"] = peak;
  state.counters["decoded_mono_MiB"] = mono_mib;
  state.counters["peak_over_decoded_mono"] = peak / mono_mib;
}

// Minutes of work per run on two shared cores: one iteration each, wall time.
BENCHMARK(BM_ConvertAudioToMonoFlac)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegMonoFlac)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoxMonoFlac)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceFileSize)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
