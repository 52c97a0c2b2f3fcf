// Image captioning on one event-loop thread against a model that answers each request after
// 200 ms, and the resolution of a large base64 source.
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "qorl_multimodal/utils/image_utils.hpp"
#include "testing/delay_server.hpp"
#include "testing/scoped_env.hpp"

namespace {

namespace asio = boost::asio;
using qorl_multimodal::modality_converter::image_to_text::image_to_caption::lm_based_image_to_caption::
    LMBasedImageToCaption;

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
  for (auto _ : state) {
    asio::io_context io;
    int captioned = 0;
    for (int i = 0; i < count; ++i) {
      asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        if (!(co_await captioner->convert(image)).result.empty()) ++captioned;
      }, asio::detached);
    }
    io.run();
    if (captioned != count) state.SkipWithError("some captions failed");
  }
  state.counters["ideal_ms"] = 200;
}
BENCHMARK(BM_ConcurrentCaptions)->Arg(1)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ResolveBase64Source(benchmark::State& state) {
  const std::string source = qorl_core::base64_encode(noisy_jpeg(static_cast<std::size_t>(state.range(0))).view());
  for (auto _ : state) {
    benchmark::DoNotOptimize(qorl_core::run_sync(qorl_multimodal::utils::image_utils::get_image_binary(source)));
  }
  state.counters["source_bytes"] = static_cast<double>(source.size());
}
BENCHMARK(BM_ResolveBase64Source)->Arg(15 << 20)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
