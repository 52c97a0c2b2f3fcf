// A corpus of captions against a model service that allows 6,000 requests a minute (100 in any
// second) and answers 429 beyond that, its retryDelay saying when the second has room again:
// with the run-wide limiter set to the service's rate (as --rpm 6000 does), and without any (each
// request backing off by itself, as before the limiter).
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <algorithm>
#include <chrono>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "clients/http/policy.hpp"
#include "clients/http/rate_limiter.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/scoped_env.hpp"

namespace {

namespace asio = boost::asio;
using Clock = std::chrono::steady_clock;
using qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    lm_based_image_to_caption::LMBasedImageToCaption;

constexpr int kCaptions = 2000;
constexpr double kRequestsPerMinute = 6000;

qorl_core::Bytes small_png() {
  cv::Mat pixels(32, 32, CV_8UC3, cv::Scalar(40, 120, 200));
  std::vector<uchar> out;
  cv::imencode(".png", pixels, out);
  return qorl_core::Bytes(out.data(), out.size());
}

// Argument 1: the run-wide limiter at the service's rate; 0: none, as before it existed.
void BM_RateLimitedCaptions(benchmark::State& state) {
  const bool limited = state.range(0) == 1;
  qorl_testing::FakeGeminiServer model("bench-key");
  model.set_rate_limit(static_cast<int>(kRequestsPerMinute / 60), std::chrono::seconds(1));
  model.set_answer_text(R"({"captions":["a","b","c","d","e"]})");
  qorl_testing::ScopedEnv env;
  env.set("GOOGLE_GEMINI_BASE_URL", model.base_url()).set("GEMINI_API_KEY", "bench-key");
  const auto saved_limits = clients::http::default_rate_limits();
  if (limited) {
    clients::http::set_default_rate_limits(std::make_shared<clients::http::RateLimiterRegistry>(
        clients::http::RateLimiterOptions{.requests_per_minute = kRequestsPerMinute}));
  }
  auto captioner = LMBasedImageToCaption::from_preset();
  const qorl_core::Bytes image = small_png();
  std::vector<Clock::time_point> finished;
  int failed = 0;
  Clock::time_point start;
  for (auto _ : state) {
    start = Clock::now();
    asio::io_context io;
    for (int i = 0; i < kCaptions; ++i) {
      asio::co_spawn(
          io,
          [&]() -> asio::awaitable<void> {
            try {
              co_await captioner->convert(image);
              finished.push_back(Clock::now());
            } catch (const std::exception&) {
              ++failed;
            }
          },
          asio::detached);
    }
    io.run();
  }
  clients::http::set_default_rate_limits(saved_limits);
  // The rate once the run is under way: answers after its first 10 s, per second, against the
  // service's 100 a second.
  const auto warm = start + std::chrono::seconds(10);
  const auto after_warmup = std::count_if(finished.begin(), finished.end(),
                                          [&](Clock::time_point t) { return t >= warm; });
  const auto last = finished.empty() ? warm : *std::max_element(finished.begin(), finished.end());
  const double span = std::chrono::duration<double>(last - warm).count();
  state.counters["achieved_rate_share"] =
      span > 0 ? static_cast<double>(after_warmup) / span / (kRequestsPerMinute / 60) : 0;
  const auto requests = static_cast<double>(model.generate_requests().size());
  state.counters["share_429"] = requests > 0 ? model.throttled() / requests : 0;
  state.counters["captions_failed"] = failed;
  state.counters["requests"] = requests;
}
BENCHMARK(BM_RateLimitedCaptions)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
