// A corpus run of 2,000 small images, 64 (or 1,000) in flight, captioned by the real captioner
// against a model that answers each request after 200 ms; then the same run again, answered by the
// results store, beside sha256sum reading the same files.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "bench/peers.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_multimodal/batch.hpp"
#include "qorl_multimodal/modality_converter/image_to_text/image_to_caption/lm_based_image_to_caption.hpp"
#include "testing/delay_server.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace {

namespace asio = boost::asio;
namespace batch = qorl_multimodal::batch;
using qorl_multimodal::modality_converter::image_to_text::image_to_caption::
    lm_based_image_to_caption::LMBasedImageToCaption;

const std::string kAnswer =
    R"({"candidates":[{"content":{"role":"model","parts":[{"text":"{\"captions\":[\"a\",\"b\",\"c\",\"d\",\"e\"]}"}]},"finishReason":"STOP"}]})";

// `count` distinct 64x64 noise JPEGs in `dir`.
std::vector<batch::SourceEntry> noise_jpegs(const qorl_testing::TempDir& dir, int count) {
  std::vector<batch::SourceEntry> entries;
  cv::Mat pixels(64, 64, CV_8UC3);
  for (int i = 0; i < count; ++i) {
    cv::randu(pixels, cv::Scalar::all(0), cv::Scalar::all(255));
    const auto path = dir.path() / ("image-" + std::to_string(i) + ".jpg");
    cv::imwrite(path.string(), pixels);
    entries.push_back({.source = path.string()});
  }
  return entries;
}

void BM_CorpusRun(benchmark::State& state) {
  constexpr int kImages = 2000;
  const auto jobs = static_cast<std::size_t>(state.range(0));
  qorl_testing::DelayServer model(std::chrono::milliseconds(200), kAnswer);
  qorl_testing::ScopedEnv env;
  env.set("GOOGLE_GEMINI_BASE_URL", model.url()).set("GEMINI_API_KEY", "bench-key");
  auto captioner = LMBasedImageToCaption::from_preset();
  qorl_testing::TempDir dir;
  const auto entries = noise_jpegs(dir, kImages);
  auto store = batch::Store::open(dir.path() / "results.sqlite");

  batch::ConvertFunction caption =
      [&](batch::ResolvedSource source) -> asio::awaitable<batch::Conversion> {
    auto text = co_await captioner->convert(source.media());
    if (text.result.empty()) throw std::runtime_error("no caption");
    co_return batch::Conversion{qorl_core::Value(text.to_map()), batch::Usage{.requests = 1}};
  };
  batch::RunOptions options;
  options.jobs = jobs;
  options.request = {.subcommand = "caption", .backend = "gemini", .model = "gemini-bench"};
  options.store = &store;
  auto run_once = [&] {
    const auto start = std::chrono::steady_clock::now();
    const batch::RunSummary summary =
        qorl_core::run_sync(batch::run(batch::stream_of(entries), caption, {}, options));
    if (summary.done != kImages) state.SkipWithError("some images were not captioned");
    return std::pair{qorl_bench::seconds_since(start), summary};
  };

  for (auto _ : state) {
    qorl_bench::reset_peak_memory();
    const double before = qorl_bench::status_mib("VmRSS");
    const auto [converted_s, converted] = run_once();
    state.counters["peak_MiB_over_start"] = qorl_bench::status_mib("VmHWM") - before;
    const auto [stored_s, stored] = run_once();
    if (stored.from_store != kImages) state.SkipWithError("the second run was not all hits");

    const double ideal_s = std::ceil(kImages / static_cast<double>(jobs)) * 0.2;
    state.counters["converted_s"] = converted_s;
    state.counters["ideal_s"] = ideal_s;
    state.counters["time_vs_ideal"] = converted_s / ideal_s;
    state.counters["from_store_s"] = stored_s;
    state.counters["process_peak_MiB"] = qorl_bench::status_mib("VmHWM");

    std::vector<std::string> argv{"sha256sum"};
    for (const auto& entry : entries) argv.push_back(entry.source);
    std::string failure;
    if (auto peer = qorl_bench::run_peer(argv, failure)) {
      qorl_bench::report_against_peer(state, stored_s, peer->seconds);
    } else {
      qorl_bench::note_peer_skipped(state, failure);
    }
  }
}
BENCHMARK(BM_CorpusRun)->Arg(64)->Arg(1000)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
