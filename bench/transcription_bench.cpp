// Concurrent transcriptions on one event-loop thread: 50 conversions started together against
// fake services behind a proxy that holds every answer for 200 ms. With nothing blocking the
// loop, the wall time is the service's delays along one conversion (its exchanges one after
// another) plus the CPU the loop spends; `ratio` compares the two.
#include <benchmark/benchmark.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "qorl_core/base64.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/gemini_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/openai_whisper_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/prosa_audio_to_text.hpp"
#include "qorl_multimodal/modality_converter/audio_to_text/youtube_transcript_audio_to_text.hpp"
#include "qorl_multimodal/utils/source_utils.hpp"
#include "testing/audio.hpp"
#include "testing/fake_gemini_server.hpp"
#include "testing/fake_openai.hpp"
#include "testing/fake_prosa.hpp"
#include "testing/fake_youtube.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/scoped_env.hpp"
#include "testing/temp_dir.hpp"

namespace {

namespace asio = boost::asio;
namespace att = qorl_multimodal::modality_converter::audio_to_text;
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
      asio::co_spawn(io, [&]() -> asio::awaitable<void> {
        if (co_await convert()) ++converted;
      }, asio::detached);
    }
    const std::clock_t cpu_start = std::clock();
    const auto wall_start = std::chrono::steady_clock::now();
    io.run();
    wall_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_start).count();
    cpu_ms += 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    if (converted != count) state.SkipWithError("some conversions failed");
  }
  const double runs = static_cast<double>(state.iterations());
  const double ideal_ms = exchanges * static_cast<double>(kServiceDelay.count());
  state.counters["ideal_ms"] = ideal_ms;
  state.counters["cpu_ms_per_conversion"] = cpu_ms / runs / count;
  state.counters["ratio"] = (wall_ms / runs) / (ideal_ms + cpu_ms / runs);
}

std::string short_wav() { return testing_audio(); }

void register_transcriptions() {}

}  // namespace
