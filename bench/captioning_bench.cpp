// Image captioning and image transforms (routing, then captioning) on one event-loop thread
// against a model that answers each request after 200 ms, and the resolution of a large base64
// source.
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <ctime>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "bench/peers.hpp"
#include "qorl_core/base64.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/modality_transformer/image_modality_transformer/standard_image_modality_transformer/standard_image_modality_transformer.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"
#include "testing/delay_server.hpp"
#include "testing/scoped_env.hpp"

namespace {

namespace asio = boost::asio;

// CPU time of the calling thread, which runs the event loop (the fake model runs on others).
double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
using qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    lm_based_image_to_caption::LMBasedImageToCaption;
using qorl_multimodal::modality_transformer::image_modality_transformer::
    standard_image_modality_transformer::standard_image_modality_transformer::
        StandardImageModalityTransformer;

// A noisy JPEG of about `bytes` bytes (noise does not compress).
qorl_core::Bytes noisy_jpeg(std::size_t bytes) {
  const int side = static_cast<int>(std::sqrt(static_cast<double>(bytes) / 1.2));
  cv::Mat pixels(side, side, CV_8UC3);
  cv::randu(pixels, cv::Scalar::all(0), cv::Scalar::all(255));
  std::vector<uchar> out;
  cv::imencode(".jpg", pixels, out, {cv::IMWRITE_JPEG_QUALITY, 90});
  return qorl_core::Bytes(out.data(), out.size());
}

const std::string kAnswer =
    R"({"candidates":[{"content":{"role":"model","parts":[{"text":"{\"captions\":[\"a\",\"b\",\"c\",\"d\",\"e\"]}"}]},"finishReason":"STOP"}]})";

void BM_ConcurrentCaptions(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  qorl_testing::DelayServer model(std::chrono::milliseconds(200), kAnswer);
  qorl_testing::ScopedEnv env;
  env.set("GOOGLE_GEMINI_BASE_URL", model.url()).set("GEMINI_API_KEY", "bench-key");
  auto captioner = LMBasedImageToCaption::from_preset();
  const qorl_core::Bytes image = noisy_jpeg(1 << 20);
  state.counters["image_bytes"] = static_cast<double>(image.size());
  double wall = 0;
  double loop_cpu = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu_start = thread_cpu_seconds();
    asio::io_context io;
    int captioned = 0;
    for (int i = 0; i < count; ++i) {
      asio::co_spawn(
          io,
          [&]() -> asio::awaitable<void> {
            if (!(co_await captioner->convert(image)).result.empty()) ++captioned;
          },
          asio::detached);
    }
    io.run();
    loop_cpu += thread_cpu_seconds() - cpu_start;
    wall += qorl_bench::seconds_since(start);
    if (captioned != count) state.SkipWithError("some captions failed");
  }
  const auto runs = static_cast<double>(state.iterations());
  // The peer is the ideal: every caption done when the model's 200 ms delay is over.
  state.counters["ideal_ms"] = 200;
  state.counters["time_vs_ideal"] = wall / runs / 0.2;
  state.counters["loop_cpu_ms_per_caption"] = loop_cpu / runs / count * 1000;
}
BENCHMARK(BM_ConcurrentCaptions)
    ->Arg(1)
    ->Arg(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The router's answer names no route, so each transform takes the default route (the
// captioner): two model answers of 200 ms one after the other.
void BM_ConcurrentTransforms(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  qorl_testing::DelayServer model(std::chrono::milliseconds(200), kAnswer);
  qorl_testing::ScopedEnv env;
  env.set("GOOGLE_GEMINI_BASE_URL", model.url()).set("GEMINI_API_KEY", "bench-key");
  auto transformer = StandardImageModalityTransformer::from_preset("domain_specific");
  const qorl_core::Bytes image = noisy_jpeg(100 << 10);
  double wall = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    asio::io_context io;
    int transformed = 0;
    for (int i = 0; i < count; ++i) {
      asio::co_spawn(
          io,
          [&]() -> asio::awaitable<void> {
            const qorl_core::Value text = co_await transformer->transform(image);
            if (text.is_string() && !text.as_string().empty()) ++transformed;
          },
          asio::detached);
    }
    io.run();
    wall += qorl_bench::seconds_since(start);
    if (transformed != count) state.SkipWithError("some transforms failed");
  }
  state.counters["ideal_ms"] = 400;
  state.counters["time_vs_ideal"] = wall / static_cast<double>(state.iterations()) / 0.4;
}
BENCHMARK(BM_ConcurrentTransforms)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_ResolveBase64Source(benchmark::State& state) {
  const std::string source =
      qorl_core::base64_encode(noisy_jpeg(static_cast<std::size_t>(state.range(0))).view());
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        qorl_core::run_sync(qorl_multimodal::utils::image_utils::get_image_binary(source)));
  }
  state.counters["source_bytes"] = static_cast<double>(source.size());
}
BENCHMARK(BM_ResolveBase64Source)->Arg(15 << 20)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
