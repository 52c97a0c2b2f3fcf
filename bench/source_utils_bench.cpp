// Concurrent downloads on one event-loop thread: get_file_from_url calls to a loopback server
// that answers each after 100 ms. The ideal wall time is the 100 ms delay itself; the peer is
// the curl command fetching the same URLs in parallel.
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <sys/resource.h>

#include <fstream>

#include "bench/peers.hpp"
#include "qorl_core/files.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "testing/delay_server.hpp"

namespace {

namespace asio = boost::asio;
using qorl_multimodal::utils::source_utils::get_file_from_url;

// `curl --parallel` over `count` downloads of `url`, all started at once.
void run_curl_peer(benchmark::State& state, const std::string& url, int count, double ours) {
  const qorl_core::TemporaryDirectory dir("qorl-bench-");
  const std::string config = (dir.path() / "urls.txt").string();
  {
    std::ofstream out(config);
    for (int i = 0; i < count; ++i) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
  }
  std::string failure;
  const auto curl =
      qorl_bench::run_peer({"curl", "--silent", "--fail", "--parallel", "--parallel-immediate",
                            "--parallel-max", std::to_string(count), "--config", config},
                           failure);
  if (!curl) return state.SkipWithError(failure.c_str());
  qorl_bench::report_against_peer(state, ours, curl->seconds);
}

// User and kernel CPU seconds of the calling thread, which runs the event loop.
std::pair<double, double> thread_cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
  return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

void BM_ConcurrentGetFileFromUrl(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  qorl_testing::DelayServer server(std::chrono::milliseconds(100), std::string(16 * 1024, 'x'));
  const std::string url = server.url("/image.png");
  double wall = 0;
  const auto [user_before, kernel_before] = thread_cpu_seconds();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    asio::io_context io;
    int downloaded = 0;
    for (int i = 0; i < count; ++i) {
      asio::co_spawn(
          io,
          [&]() -> asio::awaitable<void> {
            if (co_await get_file_from_url(url)) ++downloaded;
          },
          asio::detached);
    }
    io.run();
    wall += qorl_bench::seconds_since(start);
    if (downloaded != count) state.SkipWithError("some downloads failed");
  }
  const auto [user_after, kernel_after] = thread_cpu_seconds();
  const auto runs = static_cast<double>(state.iterations());
  state.counters["loop_user_ms"] = (user_after - user_before) / runs * 1000;
  state.counters["loop_kernel_ms"] = (kernel_after - kernel_before) / runs * 1000;
  state.counters["ideal_ms"] = 100;
  run_curl_peer(state, url, count, wall / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_ConcurrentGetFileFromUrl)
    ->Arg(1)
    ->Arg(100)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
