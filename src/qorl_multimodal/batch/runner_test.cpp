#include "qorl_multimodal/batch/runner.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>

#include <atomic>
#include <map>
#include <set>
#include <sstream>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "qorl_core/base64.hpp"
#include "qorl_core/errors.hpp"
#include "qorl_core/run_sync.hpp"
#include "qorl_inference/exceptions.hpp"
#include "testing/cancellation.hpp"
#include "testing/http_server.hpp"
#include "testing/temp_dir.hpp"

namespace qorl_multimodal::batch::runner {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using manifest::SourceEntry;
using ::testing::Each;

// A conversion that answers after a short timer, counting calls and how many run at once.
// Sources whose text contains "bad" fail with a cause; `hold` makes a call wait until cancelled.
struct FakeConverter {
  int calls = 0;
  int in_flight = 0;
  int most_in_flight = 0;
  int cleaned_up = 0;
  std::map<std::string, int> calls_by_key;
  std::function<bool(int call)> hold = [](int) { return false; };
  std::function<void(int call)> on_call = [](int) {};
  // Calls for which the service says the day's quota is spent.
  std::function<bool(int call)> quota_spent = [](int) { return false; };

  ConvertFunction function() {
    return [this](ResolvedSource source) -> asio::awaitable<Conversion> {
      const int call = ++calls;
      ++calls_by_key[source.key.value_or("")];
      ++in_flight;
      most_in_flight = std::max(most_in_flight, in_flight);
      on_call(call);
      struct CleanUp {
        FakeConverter& converter;
        ~CleanUp() {
          --converter.in_flight;
          ++converter.cleaned_up;
        }
      } clean_up{*this};
      asio::steady_timer timer(co_await asio::this_coro::executor);
      timer.expires_after(hold(call) ? std::chrono::hours(1) : 1ms);
      co_await timer.async_wait(asio::use_awaitable);
      if (quota_spent(call)) {
        try {
          throw qorl_inference::QuotaExhausted("Gemini quota GenerateRequestsPerDay exhausted",
                                               "Gemini", "GenerateRequestsPerDay");
        } catch (...) {
          std::throw_with_nested(qorl_core::ValueError("Caption failed"));
        }
      }
      if (source.entry.source.find("bad") != std::string::npos) {
        try {
          throw std::runtime_error("HTTP 500");
        } catch (...) {
          std::throw_with_nested(qorl_core::ValueError("Caption failed"));
        }
      }
      const std::string media =
          source.bytes ? source.bytes->str()
                       : std::filesystem::path(source.entry.source).filename().string();
      co_return Conversion{qorl_core::Map{{"caption", "of " + media}},
                           usage::Usage{.total_tokens = 10, .requests = 1}};
    };
  }
};

struct Reported {
  std::vector<Result> results;
  usage::RunSummary summary;

  std::map<Status, int> by_status() const {
    std::map<Status, int> counts;
    for (const Result& result : results) ++counts[result.status];
    return counts;
  }
};

class BatchRunnerTest : public ::testing::Test {
 protected:
  // `count` files with distinct content ("bad" in the name of those listed in `bad`).
  std::vector<SourceEntry> files(int count, const std::set<int>& bad = {}) {
    std::vector<SourceEntry> entries;
    for (int i = 0; i < count; ++i) {
      const std::string name = (bad.count(i) ? "bad-" : "photo-") + std::to_string(i) + ".jpg";
      entries.push_back({.source = dir_.write(name, "image " + std::to_string(i)).string()});
    }
    return entries;
  }

  store::Store& store() {
    if (!store_) store_ = store::Store::open(dir_.path() / "results.sqlite");
    return *store_;
  }

  RunOptions options(std::size_t jobs = 4) {
    RunOptions options;
    options.jobs = jobs;
    options.request = {.subcommand = "caption", .backend = "gemini", .model = "gemini-x"};
    options.store = &store();
    options.busy_poll = 5ms;
    return options;
  }

  Reported run_over(const std::vector<SourceEntry>& entries, FakeConverter& converter,
                    RunOptions run_options) {
    Reported reported;
    reported.summary = qorl_core::run_sync(run(
        stream_of(entries), converter.function(),
        [&](const Result& result) {
          if (run_options.store != nullptr && result.key) {
            // Whatever is reported is already stored.
            if (result.status == Status::done ||
                (result.status == Status::failed && !result.quota_exhausted)) {
              EXPECT_TRUE(run_options.store->lookup(*result.key).has_value());
            }
          }
          reported.results.push_back(result);
        },
        run_options));
    return reported;
  }

  qorl_testing::TempDir dir_;
  std::optional<store::Store> store_;
};

TEST_F(BatchRunnerTest, ConvertsEverySourceWithAtMostJobsInFlightAndRecordsFailures) {
  const auto entries = files(40, {7});
  for (store::Store* with_store : {static_cast<store::Store*>(nullptr), &store()}) {
    FakeConverter converter;
    RunOptions run_options = options(4);
    run_options.store = with_store;
    const Reported reported = run_over(entries, converter, run_options);
    EXPECT_EQ(converter.calls, 40);
    EXPECT_EQ(converter.most_in_flight, 4);
    ASSERT_EQ(reported.results.size(), 40u);
    EXPECT_EQ(reported.summary.done, 39);
    EXPECT_EQ(reported.summary.failed, 1);
    EXPECT_EQ(reported.summary.usage.requests, 39);
    std::set<std::string> sources;
    for (const Result& result : reported.results) {
      sources.insert(result.entry.source);
      EXPECT_TRUE(result.key.has_value());
      EXPECT_LE(result.started_at, result.finished_at);
      if (result.status == Status::failed) {
        EXPECT_EQ(result.error, "Caption failed: HTTP 500");
        EXPECT_EQ(result.error_kind, "ValueError");
        EXPECT_EQ(result.attempts, 1);
      } else {
        EXPECT_EQ(result.status, Status::done);
        EXPECT_EQ(result.record.as_map().at("caption").as_string(),
                  "of " + std::filesystem::path(result.entry.source).filename().string());
      }
    }
    EXPECT_EQ(sources.size(), 40u);
  }
}

TEST_F(BatchRunnerTest, StoredResultsAreReportedWithoutConvertingAndSameBytesConvertOnce) {
  auto entries = files(10);
  // The same bytes under another name, and a source whose own option changes the answer.
  entries.push_back({.source = dir_.write("copy-of-0.jpg", "image 0").string()});
  FakeConverter first;
  const Reported converted = run_over(entries, first, options(4));
  EXPECT_EQ(first.calls, 10);
  EXPECT_EQ(converted.summary.done, 11);
  EXPECT_EQ(converted.summary.from_store, 1);
  EXPECT_EQ(converted.by_status().at(Status::cached), 1);

  FakeConverter second;
  const Reported again = run_over(entries, second, options(4));
  EXPECT_EQ(second.calls, 0);
  EXPECT_EQ(again.summary.from_store, 11);
  EXPECT_EQ(again.summary.usage, usage::Usage{});
  for (const Result& result : again.results) {
    EXPECT_EQ(result.status, Status::cached);
    EXPECT_TRUE(result.record.as_map().contains("caption"));
  }

  // An answer-changing option, for the run or for one source, is another key.
  RunOptions more_captions = options(4);
  more_captions.request.options.set("captions", 3);
  FakeConverter third;
  run_over(entries, third, more_captions);
  EXPECT_EQ(third.calls, 10);
  auto one_in_french = entries;
  one_in_french[3].options.set("language", "fr");
  FakeConverter fourth;
  run_over(one_in_french, fourth, options(4));
  EXPECT_EQ(fourth.calls, 1);
}

TEST_F(BatchRunnerTest, StoredFailuresAreSkippedUnlessRetriedAndRefreshConvertsAll) {
  const auto entries = files(6, {2});
  FakeConverter first;
  run_over(entries, first, options());
  EXPECT_EQ(first.calls, 6);

  FakeConverter plain;
  const Reported skipped = run_over(entries, plain, options());
  EXPECT_EQ(plain.calls, 0);
  EXPECT_EQ(skipped.summary.skipped, 1);
  EXPECT_EQ(skipped.summary.from_store, 5);
  for (const Result& result : skipped.results) {
    if (result.status != Status::skipped) continue;
    EXPECT_EQ(result.error, "Caption failed: HTTP 500");
    EXPECT_EQ(result.error_kind, "ValueError");
  }

  RunOptions retry = options();
  retry.redo = store::Redo::failed;
  FakeConverter retried;
  const Reported retried_run = run_over(entries, retried, retry);
  EXPECT_EQ(retried.calls, 1);
  EXPECT_EQ(retried_run.summary.failed, 1);
  for (const Result& result : retried_run.results) {
    if (result.status == Status::failed) {
      EXPECT_EQ(result.attempts, 2);
    }
  }

  RunOptions refresh = options();
  refresh.redo = store::Redo::everything;
  FakeConverter refreshed;
  const Reported refreshed_run = run_over(entries, refreshed, refresh);
  EXPECT_EQ(refreshed.calls, 6);
  EXPECT_EQ(refreshed_run.summary.from_store, 0);
}

TEST_F(BatchRunnerTest, DownloadsOnceAndConvertsTheBytesKeyedLikeTheSameBytesInBase64) {
  cv::Mat pixels(16, 16, CV_8UC3);
  cv::randu(pixels, cv::Scalar::all(0), cv::Scalar::all(255));
  std::vector<uchar> encoded;
  cv::imencode(".jpg", pixels, encoded);
  const std::string jpeg(encoded.begin(), encoded.end());
  qorl_testing::HttpServer server;
  std::atomic<int> requests = 0;
  server.server().Get("/photos/cat.jpg", [&](const httplib::Request&, httplib::Response& response) {
    ++requests;
    response.set_content(jpeg, "image/jpeg");
  });
  server.start();

  FakeConverter converter;
  std::optional<ResolvedSource> seen;
  auto convert = converter.function();
  std::vector<SourceEntry> url = {{.source = server.url("/photos/cat.jpg?size=large")},
                                  {.source = server.url("/missing.jpg")}};
  Reported reported;
  qorl_core::run_sync(run(
      stream_of(url),
      [&](ResolvedSource source) {
        seen = source;
        return convert(std::move(source));
      },
      [&](const Result& result) { reported.results.push_back(result); }, options()));
  EXPECT_EQ(requests.load(), 1);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->bytes, qorl_core::Bytes(jpeg));
  EXPECT_EQ(seen->file_name, "cat.jpg");
  EXPECT_EQ(seen->media(), qorl_core::Value(qorl_core::Bytes(jpeg)));
  ASSERT_EQ(reported.results.size(), 2u);
  for (const Result& result : reported.results) {
    if (result.entry.source == url[1].source) {
      // Nothing was read, so there is no key and nothing stored.
      EXPECT_EQ(result.status, Status::failed);
      EXPECT_THAT(result.error.value_or(""), ::testing::HasSubstr("Could not download"));
      EXPECT_FALSE(result.key.has_value());
    } else {
      EXPECT_EQ(result.status, Status::done);
    }
  }

  FakeConverter base64_converter;
  std::vector<SourceEntry> as_text = {{.source = qorl_core::base64_encode(jpeg)}};
  const Reported from_text = run_over(as_text, base64_converter, options());
  EXPECT_EQ(base64_converter.calls, 0);
  EXPECT_EQ(from_text.summary.from_store, 1);
}

TEST_F(BatchRunnerTest, CancellingReleasesClaimsAndARerunFinishesTheRestOnce) {
  const auto entries = files(20);
  FakeConverter converter;
  converter.hold = [](int call) { return call > 6; };
  int reported = 0;
  const bool cancelled = qorl_testing::ends_cancelled(
      run(
          stream_of(entries), converter.function(), [&](const Result&) { ++reported; }, options(4)),
      [&] { return reported == 6 && converter.in_flight == 4; });
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(converter.calls, 10);
  EXPECT_EQ(converter.cleaned_up, 10);
  EXPECT_EQ(converter.in_flight, 0);
  const store::Totals totals = store().totals();
  EXPECT_EQ(totals.done(), 6);
  EXPECT_EQ(totals.in_progress, 0);
  EXPECT_EQ(totals.interrupted, 0);

  FakeConverter rerun;
  const Reported finished = run_over(entries, rerun, options(4));
  EXPECT_EQ(rerun.calls, 14);
  EXPECT_THAT(rerun.calls_by_key, Each(::testing::Pair(::testing::_, 1)));
  EXPECT_EQ(finished.summary.from_store, 6);
  EXPECT_EQ(finished.summary.done, 20);
}

TEST_F(BatchRunnerTest, StopNewWorkLetsConversionsInFlightFinish) {
  const auto entries = files(20);
  RunControl control;
  FakeConverter converter;
  converter.on_call = [&](int call) {
    if (call == 2) control.stop_new_work();
  };
  RunOptions stopping = options(4);
  stopping.control = &control;
  const Reported stopped = run_over(entries, converter, stopping);
  EXPECT_TRUE(stopped.summary.stopped_early);
  EXPECT_GE(converter.calls, 2);
  EXPECT_LE(converter.calls, 4);
  EXPECT_EQ(stopped.summary.done, converter.calls);
  EXPECT_EQ(static_cast<int>(stopped.results.size()), converter.calls);

  // The rest, read from a manifest listing the same files.
  std::string listing;
  for (const SourceEntry& entry : entries) listing += entry.source + "\n";
  std::istringstream manifest_text(listing);
  manifest::ManifestReader manifest(manifest_text, "list.txt");
  FakeConverter rest;
  const usage::RunSummary finished =
      qorl_core::run_sync(run(stream_of(manifest), rest.function(), {}, options(4)));
  EXPECT_EQ(rest.calls, 20 - converter.calls);
  EXPECT_EQ(finished.from_store, converter.calls);
  EXPECT_FALSE(finished.stopped_early);
}

TEST_F(BatchRunnerTest, AnExhaustedQuotaStopsNewWorkAndARerunResumesTheUnstoredSources) {
  const auto entries = files(12);
  FakeConverter converter;
  converter.quota_spent = [](int call) { return call >= 3; };
  const Reported stopped = run_over(entries, converter, options(2));
  ASSERT_TRUE(stopped.summary.quota_exhausted);
  EXPECT_EQ(*stopped.summary.quota_exhausted, "Gemini quota GenerateRequestsPerDay exhausted");
  EXPECT_TRUE(stopped.summary.stopped_early);
  // The conversion in flight when the quota ran out finished; nothing started after it.
  EXPECT_LE(converter.calls, 4);
  EXPECT_EQ(stopped.summary.done, 2);
  EXPECT_EQ(stopped.summary.failed, converter.calls - 2);
  for (const Result& result : stopped.results) {
    if (result.status != Status::failed) continue;
    EXPECT_TRUE(result.quota_exhausted);
    EXPECT_EQ(result.error_kind, "ValueError");
    EXPECT_FALSE(store().lookup(*result.key)) << "a quota failure is not stored";
  }
  const store::Totals totals = store().totals();
  EXPECT_EQ(totals.done(), 2);
  EXPECT_EQ(totals.failed(), 0);
  EXPECT_EQ(totals.in_progress, 0);

  FakeConverter resumed;
  const Reported finished = run_over(entries, resumed, options(2));
  EXPECT_FALSE(finished.summary.quota_exhausted);
  EXPECT_EQ(resumed.calls, 10);
  EXPECT_EQ(finished.summary.from_store, 2);
  EXPECT_EQ(finished.summary.done, 12);

  // Without a store the run stops the same way.
  FakeConverter unstored;
  unstored.quota_spent = [](int call) { return call == 1; };
  RunOptions no_store = options(1);
  no_store.store = nullptr;
  const Reported alone = run_over(entries, unstored, no_store);
  EXPECT_TRUE(alone.summary.quota_exhausted);
  EXPECT_EQ(unstored.calls, 1);
}

TEST_F(BatchRunnerTest, ResultsOfABatchModeRunAreMarkedInTheStore) {
  const auto entries = files(3, {2});
  FakeConverter converter;
  RunOptions batch = options(3);
  batch.gemini_batch = qorl_inference::GeminiBatcherOptions{};
  run_over(entries, converter, batch);
  const store::Totals totals = store().totals();
  EXPECT_EQ(totals.batch.done, 2);
  EXPECT_EQ(totals.batch.failed, 1);
  EXPECT_EQ(totals.direct.done + totals.direct.failed, 0);
}

TEST_F(BatchRunnerTest, TwoRunnersOnOneStoreConvertEachKeyOnce) {
  auto entries = files(30);
  auto reversed = entries;
  std::reverse(reversed.begin(), reversed.end());
  store::Store other = store::Store::open(dir_.path() / "results.sqlite");
  FakeConverter first;
  FakeConverter second;
  Reported first_reported;
  Reported second_reported;
  RunOptions second_options = options(3);
  second_options.store = &other;

  asio::io_context io;
  auto spawn = [&](const std::vector<SourceEntry>& list, FakeConverter& converter,
                   Reported& reported, RunOptions run_options) {
    return asio::co_spawn(
        io,
        run(
            stream_of(list), converter.function(),
            [&reported](const Result& result) { reported.results.push_back(result); }, run_options),
        asio::use_future);
  };
  auto first_done = spawn(entries, first, first_reported, options(3));
  auto second_done = spawn(entries, second, second_reported, second_options);
  auto third_done = spawn(reversed, second, second_reported, second_options);
  io.run();
  first_done.get();
  second_done.get();
  third_done.get();

  std::map<std::string, int> conversions = first.calls_by_key;
  for (const auto& [key, count] : second.calls_by_key) conversions[key] += count;
  EXPECT_EQ(conversions.size(), 30u);
  EXPECT_THAT(conversions, Each(::testing::Pair(::testing::_, 1)));
  EXPECT_EQ(first_reported.results.size(), 30u);
  EXPECT_EQ(second_reported.results.size(), 60u);
  for (const Reported* reported : {&first_reported, &second_reported}) {
    for (const Result& result : reported->results) {
      EXPECT_TRUE(result.status == Status::done || result.status == Status::cached);
    }
  }
}

}  // namespace
}  // namespace qorl_multimodal::batch::runner
