#include "clients/http/policy.hpp"

#include <gtest/gtest.h>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/system/system_error.hpp>

#include <memory>
#include <thread>

#include "testing/cancellation.hpp"
#include "testing/fault_proxy.hpp"
#include "testing/http_server.hpp"
#include "testing/loopback.hpp"

namespace clients::http {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;
using qorl_testing::Fault;

template <typename T>
T run(asio::awaitable<T> operation) {
  asio::io_context io;
  auto future = asio::co_spawn(io, std::move(operation), asio::use_future);
  io.run();
  return future.get();
}

CallPolicy quick(int attempts = 4) {
  CallPolicy policy;
  policy.retry = RetryPolicy::without_delays(attempts);
  return policy;
}

CallOptions of_kind(CallKind kind) {
  CallOptions options;
  options.kind = kind;
  return options;
}

Request get(std::string url) {
  Request request;
  request.url = std::move(url);
  return request;
}

class CallPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/ok",
                         [](const auto&, auto& res) { res.set_content("fine", "text/plain"); });
    server_.start();
    proxy_ = std::make_unique<qorl_testing::FaultProxy>(server_.url());
  }
  qorl_testing::HttpServer server_;
  std::unique_ptr<qorl_testing::FaultProxy> proxy_;
};

TEST_F(CallPolicyTest, TransientFailuresAreRetriedUntilAnAnswer) {
  proxy_->inject(Fault::answer(503));
  proxy_->inject(Fault::answer(429, {{"Retry-After", "7"}}));
  proxy_->inject(Fault::answer(429, {{"Retry-After", "Wed, 21 Oct 2099 07:28:00 GMT"}}));
  proxy_->inject(Fault::reset());
  proxy_->inject(Fault::answer(504));
  std::vector<RetryNotice> notices;
  CallOptions options;
  options.on_retry = [&](const RetryNotice& notice) { notices.push_back(notice); };
  const Response answer = run(call(get(proxy_->url("/ok")), quick(6), options));
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, "fine");
  EXPECT_EQ(proxy_->requests("/ok"), 6);
  ASSERT_EQ(notices.size(), 5u);
  EXPECT_EQ(notices[0].failure, "HTTP 503 (Service Unavailable)");
  EXPECT_EQ(notices[4].attempt, 5);
  EXPECT_EQ(notices[4].max_attempts, 6);
  for (const auto& notice : notices) EXPECT_EQ(notice.delay, 0ms);  // Retry-After capped at 0
}

TEST_F(CallPolicyTest, EveryAttemptSendsTheWholeBody) {
  std::vector<std::string> received;
  server_.server().Post("/echo", [&](const httplib::Request& req, auto& res) {
    received.push_back(req.body);
    res.status = received.size() < 3 ? 503 : 200;
  });
  Request request = get(proxy_->url("/echo"));
  request.method = "POST";
  request.body = std::string(8000, 'x') + "end";
  EXPECT_EQ(run(call(request, quick(3))).status, 200);
  ASSERT_EQ(received.size(), 3u);
  for (const auto& body : received) EXPECT_EQ(body, request.body);
}

TEST_F(CallPolicyTest, SpentAttemptsGiveTheLastAnswerOrError) {
  proxy_->inject(Fault::answer(500), "", 3);
  EXPECT_EQ(run(call(get(proxy_->url("/ok")), quick(3))).status, 500);
  EXPECT_EQ(proxy_->requests(), 3);

  proxy_->inject(Fault::reset(), "", 2);
  EXPECT_THROW(run(call(get(proxy_->url("/ok")), quick(2))), Error);

  // Not worth repeating: 404, 400, a bad URL.
  proxy_->inject(Fault::answer(404));
  EXPECT_EQ(run(call(get(proxy_->url("/ok")), quick())).status, 404);
  EXPECT_EQ(proxy_->requests(), 6);
  EXPECT_THROW(run(call(get("not a url"), quick())), Error);
}

TEST_F(CallPolicyTest, NonIdempotentCallsAreRepeatedOnlyWhenTheServerDidNotAct) {
  CallOptions once;
  once.idempotency = Idempotency::kNonIdempotent;
  proxy_->inject(Fault::answer(503));
  EXPECT_EQ(run(call(get(proxy_->url("/ok")), quick(), once)).status, 503);
  proxy_->inject(Fault::reset());
  EXPECT_THROW(run(call(get(proxy_->url("/ok")), quick(), once)), Error);
  EXPECT_EQ(proxy_->requests(), 2);

  proxy_->inject(Fault::answer(429));
  EXPECT_EQ(run(call(get(proxy_->url("/ok")), quick(), once)).status, 200);
  // Nothing listens: no connection, so nothing was sent.
  auto refused =
      get("http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port()) + "/");
  try {
    run(call(refused, quick(2), once));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kConnect);
  }
}

TEST_F(CallPolicyTest, SilentStalledAndEndlessServersEndWithinTheirLimits) {
  CallPolicy policy = quick(2);
  policy.retry.deadline = 300ms;
  proxy_->inject(Fault::hang());
  try {
    run(call(get(proxy_->url("/ok")), policy, of_kind(CallKind::kModel)));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kTimeout);
  }

  policy = quick(1);
  policy.stall_time = 1s;
  proxy_->inject(Fault::stall_body());
  EXPECT_THROW(run(call(get(proxy_->url("/ok")), policy)), Error);

  // The cap ends an endless body at once, and a too large answer is not asked for again.
  policy = quick(3);
  policy.max_download_bytes = 1 << 20;
  proxy_->inject(Fault::endless_body());
  const int before = proxy_->requests();
  try {
    run(call(get(proxy_->url("/media?X-Amz-Signature=secret")), policy,
             of_kind(CallKind::kDownload)));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kTooLarge);
    EXPECT_EQ(std::string(e.what()), "The answer from " + proxy_->url("/media") +
                                         " is larger than the limit of 1048576 bytes");
  }
  EXPECT_EQ(proxy_->requests(), before + 1);
}

TEST_F(CallPolicyTest, CancellationEndsTheCallAndItsConnection) {
  proxy_->inject(Fault::hang());
  EXPECT_TRUE(qorl_testing::ends_cancelled(call(get(proxy_->url("/ok")), quick()),
                                           [&] { return proxy_->requests("/ok") > 0; }));
  EXPECT_TRUE(proxy_->all_closed_within(2s));
}

// Servers that hold calls up.
class HostileCall : public CallPolicyTest {};

// A model that accepts the request and never answers.
TEST_F(HostileCall, SilentModelIsTriedTwiceAtMost) {
  CallPolicy policy = quick(4);
  policy.attempt_timeout = 200ms;
  proxy_->inject(Fault::hang(), "", 4);
  std::vector<RetryNotice> notices;
  CallOptions options = of_kind(CallKind::kModel);
  options.on_retry = [&](const RetryNotice& notice) { notices.push_back(notice); };
  try {
    run(call(get(proxy_->url("/ok")), policy, options));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kTimeout);
    EXPECT_EQ(e.attempts(), 2);
  }
  EXPECT_EQ(proxy_->requests("/ok"), 2);
  EXPECT_EQ(notices.size(), 1u);

  // Without a time limit per attempt, the model deadline ends the call.
  policy.attempt_timeout = std::nullopt;
  policy.model_deadline = 300ms;
  proxy_->inject(Fault::hang(), "", 4);
  try {
    run(call(get(proxy_->url("/ok")), policy, of_kind(CallKind::kModel)));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kTimeout);
    EXPECT_EQ(e.attempts(), 1);
  }
}

// Told to come back just before the deadline: no attempt is started that could not be answered.
TEST_F(HostileCall, NoRetryStartsWithoutTimeForIt) {
  CallPolicy policy = quick(4);
  policy.retry.max_retry_after = 60s;
  policy.retry.deadline = 1000ms;
  proxy_->inject(Fault::answer(503, {{"Retry-After", "0.9"}}));
  proxy_->inject(Fault::hang());
  int notices = 0;
  CallOptions options;
  options.on_retry = [&](const RetryNotice&) { ++notices; };
  const Response answer = run(call(get(proxy_->url("/ok")), policy, options));
  EXPECT_EQ(answer.status, 503);
  EXPECT_EQ(answer.attempts, 1);
  EXPECT_EQ(notices, 0);
  EXPECT_EQ(proxy_->requests("/ok"), 1);
}

// A download's deadline bounds the wait for its answer, retries included, not its body.
TEST_F(HostileCall, DownloadDeadlineEndsWithTheAnswer) {
  server_.server().Get("/media", [](const auto&, auto& res) {
    res.set_chunked_content_provider("video/mp4", [](size_t offset, httplib::DataSink& sink) {
      if (offset >= 8) {
        sink.done();
        return true;
      }
      std::this_thread::sleep_for(150ms);
      return sink.write("m", 1);
    });
  });
  const CallPolicy policy = download_policy(500ms, quick(4));
  EXPECT_EQ(policy.stall_time, 1s);
  // Straight from the server: the fault proxy passes on whole answers only.
  const Response media =
      run(call(get(server_.url("/media")), policy, of_kind(CallKind::kDownload)));
  EXPECT_EQ(media.body, "mmmmmmmm");

  proxy_->inject(Fault::hang(), "/ok", 4);
  try {
    run(call(get(proxy_->url("/ok")), policy, of_kind(CallKind::kDownload)));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kTimeout);
    EXPECT_EQ(e.attempts(), 1);
  }
  EXPECT_EQ(proxy_->requests("/ok"), 1);

  // The operator's deadline stands in for the caller's limit.
  CallPolicy operator_limit = quick(4);
  operator_limit.retry.deadline = 100s;
  EXPECT_EQ(download_policy(500ms, operator_limit).retry.deadline, 100s);
  EXPECT_EQ(download_policy(500ms, operator_limit).stall_time, 100s);
}

TEST(RetryAfter, ReadsSecondsAndDates) {
  const auto now = std::chrono::system_clock::from_time_t(1700000000);
  Response response;
  EXPECT_EQ(retry_after(response, now), std::nullopt);
  response.headers = {{"Retry-After", "2"}};
  EXPECT_EQ(retry_after(response, now), 2000ms);
  response.headers = {{"retry-after", "1.5"}};
  EXPECT_EQ(retry_after(response, now), 1500ms);
  // 2023-11-14T22:13:30Z is ten seconds after `now`.
  response.headers = {{"Retry-After", "Tue, 14 Nov 2023 22:13:30 GMT"}};
  EXPECT_EQ(retry_after(response, now), 10000ms);
  response.headers = {{"Retry-After", "Tue, 14 Nov 2000 22:13:30 GMT"}};
  EXPECT_EQ(retry_after(response, now), 0ms);
  for (const char* bad : {"soon", "-1", "nan", ""}) {
    response.headers = {{"Retry-After", bad}};
    EXPECT_EQ(retry_after(response, now), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace clients::http
