// The frame at 30 s of a 60-second 1080p H.264 MP4 as PNG, beside
// `ffmpeg -ss 30 -i VIDEO -frames:v 1 frame.png` in the same run.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/peers.hpp"
#include "clients/process/process.hpp"
#include "qorl_multimodal/utils/video_utils.hpp"
#include "testing/run_program.hpp"
#include "testing/temp_dir.hpp"

namespace {

struct Video {
  qorl_testing::TempDir dir;
  std::string path = (dir.path() / "testsrc2.mp4").string();

  Video() {
    const auto made = qorl_testing::run_process({"ffmpeg", "-nostdin", "-loglevel", "error", "-f",
                                                 "lavfi", "-i", "testsrc2=size=1920x1080:rate=25",
                                                 "-t", "60", "-c:v", "libx264", path});
    if (made.exit_code != 0) throw std::runtime_error("ffmpeg failed: " + made.err);
  }
};

void BM_FrameAt30sAsPng(benchmark::State& state) {
  static const Video video;
  double ours = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(qorl_multimodal::utils::video_utils::extract_video_frame_at_timestamp(
        video.path, 30.0, "PNG"));
    ours += qorl_bench::seconds_since(start);
  }
  double peer = 0;
  std::string failure;
  for (benchmark::IterationCount i = 0; i < state.iterations(); ++i) {
    const auto run = qorl_bench::run_peer(
        {"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-ss", "30", "-i", video.path,
         "-frames:v", "1", (video.dir.path() / "frame.png").string()},
        failure);
    if (!run) return state.SkipWithError(failure.c_str());
    peer += run->seconds;
  }
  qorl_bench::report_against_peer(state, ours / state.iterations(), peer / state.iterations());
}
BENCHMARK(BM_FrameAt30sAsPng)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
