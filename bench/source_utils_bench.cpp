// Concurrent downloads on one event-loop thread: 500 get_file_from_url calls to a loopback
// server that answers each after 100 ms. The ideal wall time is the 100 ms delay itself.
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include "qorl_multimodal/utils/source_utils.hpp"
#include "testing/delay_server.hpp"

namespace {

namespace asio = boost::asio;
using qorl_multimodal::utils::source_utils::get_file_from_url;

void BM_ConcurrentGetFileFromUrl(benchmark::State& state) {
  const auto count = static_cast<int>(state.range(0));
  qorl_testing::DelayServer server(std::chrono::milliseconds(100), std::string(16 * 1024, 'x'));
  const std::string url = server.url("/image.png");
  for (auto _ : state) {
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
    if (downloaded != count) state.SkipWithError("some downloads failed");
  }
  state.counters["ideal_ms"] = 100;
}
BENCHMARK(BM_ConcurrentGetFileFromUrl)
    ->Arg(1)
    ->Arg(100)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

}  // namespace
