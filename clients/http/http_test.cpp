#include "clients/http/http.hpp"

#include <gtest/gtest.h>

#include <boost/asio/bind_cancellation_slot.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/experimental/awaitable_operators.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/use_future.hpp>
#include <boost/system/system_error.hpp>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "testing/child_memory.hpp"
#include "testing/delay_server.hpp"
#include "testing/hostile_http.hpp"
#include "testing/http_server.hpp"
#include "testing/loopback.hpp"
#include "testing/scoped_env.hpp"

namespace clients::http {
namespace {

namespace asio = boost::asio;
using namespace std::chrono_literals;

template <typename T>
T run(asio::io_context& io, asio::awaitable<T> operation) {
  auto future = asio::co_spawn(io, std::move(operation), asio::use_future);
  io.restart();
  io.run();
  return future.get();
}

Request get(std::string url) {
  Request request;
  request.url = std::move(url);
  return request;
}

// A body without a length, long enough to take several blocks of the receiving buffer.
constexpr std::size_t kChunkedSize = 3 << 20;
const std::string& chunked_body() {
  static const std::string body = [] {
    std::string text;
    for (std::size_t i = 0; text.size() < kChunkedSize; ++i) text += std::to_string(i) + ",";
    text.resize(kChunkedSize);
    return text;
  }();
  return body;
}

class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/missing", [](const auto&, auto& res) {
      res.status = 404;
      res.set_content("gone", "text/plain");
    });
    s.Get("/nothing", [](const auto&, auto& res) { res.status = 204; });
    s.Get("/empty",
          [](const auto&, auto& res) { res.set_content("", "application/octet-stream"); });
    s.Get("/hello", [](const auto&, auto& res) {
      res.set_header("X-Thing", "value");
      res.set_content("hello", "text/plain");
    });
    s.Get("/echo", [](const httplib::Request& req, auto& res) {
      std::string out = req.target + "\n";
      for (const auto& [k, v] : req.params) out += k + "=" + v + "\n";
      res.set_content(out, "text/plain");
    });
    s.Get("/redirect", [](const auto&, auto& res) { res.set_redirect("/hello"); });
    s.Get("/loop", [](const auto&, auto& res) { res.set_redirect("/loop"); });
    s.Get("/set-cookie",
          [](const auto&, auto& res) { res.set_header("Set-Cookie", "token=abc; Path=/"); });
    s.Get("/set-cookie-and-redirect", [](const auto&, auto& res) {
      res.set_header("Set-Cookie", "token=abc; Path=/");
      res.set_redirect("/show-cookie");
    });
    s.Get("/show-cookie", [](const httplib::Request& req, auto& res) {
      res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    s.Get("/slow", [this](const auto&, auto& res) {
      for (int i = 0; i < 500 && !released_; ++i) std::this_thread::sleep_for(10ms);
      res.set_content("late", "text/plain");
    });
    s.Get("/stall", [this](const auto&, auto& res) {
      res.set_chunked_content_provider("text/plain",
                                       [this](size_t offset, httplib::DataSink& sink) {
                                         if (offset == 0) return sink.write("x", 1);
                                         for (int i = 0; i < 500 && !released_; ++i)
                                           std::this_thread::sleep_for(10ms);
                                         sink.done();
                                         return true;
                                       });
    });
    s.Get("/drip", [](const auto&, auto& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset > 0) std::this_thread::sleep_for(100ms);
        if (offset == 5) {
          sink.done();
          return true;
        }
        return sink.write("d", 1);
      });
    });
    s.Get("/chunked", [](const auto&, auto& res) {
      res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
        if (offset == kChunkedSize) {
          sink.done();
          return true;
        }
        const std::string piece = chunked_body().substr(offset, 3001);
        return sink.write(piece.data(), piece.size());
      });
    });
    s.Get("/big", [](const auto&, auto& res) {
      res.set_content(std::string(1 << 20, 'b'), "application/octet-stream");
    });
    s.Post("/form", [](const httplib::Request& req, auto& res) {
      std::string out;
      for (const auto& [name, file] : req.files)
        out += name + "|" + file.filename + "|" + file.content_type + "|" + file.content + "\n";
      res.set_content(out, "text/plain");
    });
    s.Get("/port", [](const httplib::Request& req, auto& res) {
      res.set_content(std::to_string(req.remote_port), "text/plain");
    });
    s.Get(R"(.*)", [](const httplib::Request& req, auto& res) {
      res.set_content("proxied " + req.target, "text/plain");
    });
    server_.start();
  }
  void TearDown() override { released_ = true; }

  std::atomic<bool> released_ = false;
  qorl_testing::HttpServer server_;
  asio::io_context io_;
};

TEST_F(HttpTest, CompletedTransfersAreResponsesWhateverTheStatus) {
  auto missing = run(io_, fetch(get(server_.url("/missing"))));
  EXPECT_EQ(missing.status, 404);
  EXPECT_EQ(missing.reason, "Not Found");
  EXPECT_EQ(missing.body, "gone");
  EXPECT_FALSE(missing.ok());

  auto nothing = run(io_, fetch(get(server_.url("/nothing"))));
  EXPECT_EQ(nothing.status, 204);
  EXPECT_TRUE(nothing.body.empty());

  auto empty = run(io_, fetch(get(server_.url("/empty"))));
  EXPECT_EQ(empty.status, 200);
  EXPECT_TRUE(empty.body.empty());

  auto hello = run(io_, fetch(get(server_.url("/hello"))));
  EXPECT_EQ(hello.body, "hello");
  EXPECT_EQ(hello.reason, "OK");
  EXPECT_EQ(hello.header("x-thing"), "value");
  EXPECT_EQ(hello.header("Content-Type"), "text/plain");
  EXPECT_EQ(hello.header("X-None"), std::nullopt);
}

TEST_F(HttpTest, BodiesWithoutALengthArriveWhole) {
  const auto response = run(io_, fetch(get(server_.url("/chunked"))));
  EXPECT_EQ(response.header("Content-Length"), std::nullopt);
  EXPECT_TRUE(response.body == chunked_body());
}

TEST_F(HttpTest, FailedTransfersThrowReadableErrors) {
  auto refused =
      get("http://127.0.0.1:" + std::to_string(qorl_testing::free_loopback_port()) + "/");
  for (const auto& url :
       {refused.url, std::string("not a url"), std::string("/tmp/photo.png"),
        std::string("photo.png"), std::string("file:///etc/passwd"), std::string("http://[::1")}) {
    SCOPED_TRACE(url);
    try {
      run(io_, fetch(get(url)));
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_GT(std::string(e.what()).size(), 5u);
    }
  }
}

TEST_F(HttpTest, SlowAndStalledServersHitTheLimits) {
  auto slow = get(server_.url("/slow"));
  slow.timeout = 200ms;
  EXPECT_THROW(run(io_, fetch(slow)), Error);

  auto stalled = get(server_.url("/stall"));
  stalled.low_speed_time = 1s;
  stalled.low_speed_limit = 10;
  EXPECT_THROW(run(io_, fetch(stalled)), Error);
}

TEST_F(HttpTest, AnswerTimeoutLimitsTheWaitForHeadersOnly) {
  auto slow = get(server_.url("/slow"));
  slow.answer_timeout = 200ms;
  try {
    run(io_, fetch(slow));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::kTimeout);
    EXPECT_EQ(std::string(e.what()),
              "No answer from " + server_.url("/slow") + " within 200 milliseconds");
  }
  // Headers at once, then a body that keeps coming for longer than the limit.
  auto dripping = get(server_.url("/drip"));
  dripping.answer_timeout = 100ms;
  EXPECT_EQ(run(io_, fetch(dripping)).body, "ddddd");
}

TEST_F(HttpTest, RedirectsAreFollowedUnlessAskedNotTo) {
  auto followed = run(io_, fetch(get(server_.url("/redirect"))));
  EXPECT_EQ(followed.status, 200);
  EXPECT_EQ(followed.body, "hello");
  EXPECT_EQ(followed.effective_url, server_.url("/hello"));
  EXPECT_EQ(followed.header("Location"), std::nullopt);  // headers of the final response only

  auto request = get(server_.url("/redirect"));
  request.follow_redirects = false;
  auto kept = run(io_, fetch(request));
  EXPECT_EQ(kept.status, 302);
  EXPECT_EQ(kept.header("location"), "/hello");
}

TEST_F(HttpTest, RedirectLoopsEnd) {
  try {
    run(io_, fetch(get(server_.url("/loop"))));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("redirects"), std::string::npos) << e.what();
  }
}

TEST_F(HttpTest, SessionKeepsCookiesAndStaysUsableUntilClosed) {
  Session session(io_.get_executor());
  run(io_, fetch(get(server_.url("/set-cookie")), &session));
  EXPECT_EQ(session.cookie("token"), "abc");
  EXPECT_EQ(run(io_, fetch(get(server_.url("/show-cookie")), &session)).body, "token=abc");
  EXPECT_THROW(run(io_, fetch(get("http://127.0.0.1:1/"), &session)), Error);
  EXPECT_FALSE(session.is_closed());
  EXPECT_EQ(run(io_, fetch(get(server_.url("/port")), &session)).body,
            run(io_, fetch(get(server_.url("/port")), &session)).body);  // one reused connection

  // A private session does not see them.
  EXPECT_EQ(run(io_, fetch(get(server_.url("/show-cookie")))).body, "");

  session.close();
  session.close();
  EXPECT_TRUE(session.is_closed());
  EXPECT_THROW(run(io_, fetch(get(server_.url("/hello")), &session)), Error);
}

TEST_F(HttpTest, ClosingASessionEndsItsTransfers) {
  auto session = std::make_unique<Session>(io_.get_executor());
  auto pending = asio::co_spawn(io_, session->send(get(server_.url("/slow"))), asio::use_future);
  io_.run_for(100ms);
  session.reset();
  io_.restart();
  io_.run();
  EXPECT_THROW(pending.get(), Error);
}

TEST_F(HttpTest, StreamsQueriesProxiesAndForms) {
  auto streamed = get(server_.url("/big"));
  std::size_t received = 0;
  int chunks = 0;
  streamed.on_body_chunk = [&](std::string_view chunk) {
    received += chunk.size();
    ++chunks;
  };
  auto response = run(io_, fetch(streamed));
  EXPECT_EQ(received, 1u << 20);
  EXPECT_GT(chunks, 1);
  EXPECT_TRUE(response.body.empty());

  auto query = get(server_.url("/echo?x=1"));
  query.query = {{"q", "a b&c=d"}, {"\xC3\xBC", "x/y"}};
  EXPECT_EQ(run(io_, fetch(query)).body,
            "/echo?x=1&q=a%20b%26c%3Dd&%C3%BC=x%2Fy\nq=a b&c=d\nx=1\n\xC3\xBC=x/y\n");
  EXPECT_EQ(url_encode("a-_.~ /?"), "a-_.~%20%2F%3F");

  auto proxied = get("http://127.0.0.1:1/elsewhere");
  proxied.proxy = server_.url();
  EXPECT_EQ(run(io_, fetch(proxied)).body, "proxied http://127.0.0.1:1/elsewhere");

  auto form =
      encode_multipart({{"model", "whisper-1", std::nullopt, std::nullopt},
                        {"file", std::string("RIFF\0\r\n--", 9), "a \"b\".wav", "audio/wav"}});
  Request post;
  post.method = "POST";
  post.url = server_.url("/form");
  post.headers = {{"Content-Type", form.content_type}};
  post.body = form.body;
  EXPECT_EQ(
      run(io_, fetch(post)).body,
      "file|a %22b%22.wav|audio/wav|" + std::string("RIFF\0\r\n--", 9) + "\nmodel|||whisper-1\n");
}

TEST_F(HttpTest, CancellationAbortsTheTransfer) {
  using namespace asio::experimental::awaitable_operators;
  Session session(io_.get_executor());
  auto race = [&]() -> asio::awaitable<std::size_t> {
    asio::steady_timer timer(co_await asio::this_coro::executor, 100ms);
    auto winner =
        co_await (session.send(get(server_.url("/slow"))) || timer.async_wait(asio::use_awaitable));
    co_return winner.index();
  };
  EXPECT_EQ(run(io_, race()), 1u);

  for (Session* on : {&session, static_cast<Session*>(nullptr)}) {
    asio::cancellation_signal signal;
    auto future = asio::co_spawn(io_, fetch(get(server_.url("/slow")), on),
                                 asio::bind_cancellation_slot(signal.slot(), asio::use_future));
    io_.restart();
    io_.run_for(100ms);
    signal.emit(asio::cancellation_type::terminal);
    io_.restart();
    io_.run();
    try {
      future.get();
      ADD_FAILURE() << "not cancelled";
    } catch (const boost::system::system_error& e) {
      EXPECT_EQ(e.code(), asio::error::operation_aborted);
    }
  }
  EXPECT_EQ(run(io_, session.send(get(server_.url("/hello")))).body, "hello");
}

TEST_F(HttpTest, RequestsWithoutASessionShareConnectionsButNotCookies) {
  EXPECT_EQ(&shared_session(io_.get_executor()), &shared_session(io_.get_executor()));
  EXPECT_EQ(run(io_, fetch(get(server_.url("/port")))).body,
            run(io_, fetch(get(server_.url("/port")))).body);

  // A cookie set along a redirect reaches the next hop, and stays with that request.
  EXPECT_EQ(run(io_, fetch(get(server_.url("/set-cookie-and-redirect")))).body, "token=abc");
  EXPECT_EQ(run(io_, fetch(get(server_.url("/show-cookie")))).body, "");

  asio::io_context other;
  EXPECT_NE(&shared_session(other.get_executor()), &shared_session(io_.get_executor()));
}

TEST_F(HttpTest, TheSharedSessionEndsWithItsContext) {
  // A transfer in flight when its loop is destroyed: nothing runs or leaks afterwards.
  auto io = std::make_unique<asio::io_context>();
  auto pending = asio::co_spawn(*io, fetch(get(server_.url("/slow"))), asio::use_future);
  io->run_for(100ms);
  io.reset();
  EXPECT_THROW(pending.get(), std::future_error);  // abandoned, never completed
}

// httplib's listen backlog of 5 drops bursts of connections; this server holds them all.
TEST(HttpConcurrency, ManyConcurrentRequestsOnOneThread) {
  qorl_testing::DelayServer server(50ms, "ok");
  asio::io_context io;
  Session shared(io.get_executor());
  constexpr int kCount = 300;
  std::vector<std::future<Response>> results;
  for (int i = 0; i < kCount; ++i) {
    auto request = get(server.url("/item"));
    request.query = {{"i", std::to_string(i)}};
    results.push_back(
        asio::co_spawn(io, fetch(request, i % 2 ? &shared : nullptr), asio::use_future));
  }
  io.run();
  for (int i = 0; i < kCount; ++i) {
    auto response = results[i].get();
    EXPECT_EQ(response.body, "ok");
    EXPECT_EQ(response.header("X-Request-Target"), "/item?i=" + std::to_string(i));
  }
}

TEST(HttpConcurrency, TheSharedSessionServesSeveralThreads) {
  qorl_testing::DelayServer server(20ms, "ok");
  asio::thread_pool pool(4);
  constexpr int kCount = 200;
  std::vector<std::future<Response>> results;
  for (int i = 0; i < kCount; ++i) {
    results.push_back(asio::co_spawn(pool, fetch(get(server.url("/item"))), asio::use_future));
  }
  for (auto& result : results) EXPECT_EQ(result.get().body, "ok");
  pool.join();
}

// Two origins on loopback: `origin` redirects, `other` (another port) records what reached it.
class HostileHttpRedirect : public ::testing::TestWithParam<std::pair<const char*, Headers>> {
 protected:
  void SetUp() override {
    auto record = [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      seen_.push_back({req.method, req.headers});
      res.set_content("landed", "text/plain");
    };
    other_.server().Get("/landing", record);
    other_.server().Post("/landing", record);
    other_.start();
    auto& s = origin_.server();
    s.Get("/away", [this](const auto&, auto& res) { res.set_redirect(other_.url("/landing")); });
    s.Post("/away", [this](const auto&, auto& res) { res.set_redirect(other_.url("/landing")); });
    s.Get("/kept",
          [this](const auto&, auto& res) { res.set_redirect(other_.url("/landing"), 307); });
    s.Post("/kept",
           [this](const auto&, auto& res) { res.set_redirect(other_.url("/landing"), 307); });
    s.Get("/here", [](const auto&, auto& res) { res.set_redirect("/landing"); });
    s.Get("/landing", record);
    origin_.start();
  }

  Request with_credentials(std::string url, std::string method = "GET") const {
    Request request = get(std::move(url));
    request.method = std::move(method);
    request.headers = GetParam().second;
    request.headers.emplace_back("X-Trace", "t-1");
    if (request.method == "POST") request.body = "{}";
    return request;
  }
  // Credential headers of the parameter that reached a server.
  std::vector<std::string> credentials_seen() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    for (const auto& [method, headers] : seen_) {
      for (const auto& [name, value] : GetParam().second)
        if (headers.count(name) > 0) found.push_back(method + " " + name);
    }
    seen_.clear();
    return found;
  }
  bool trace_seen() {
    std::lock_guard lock(mutex_);
    return !seen_.empty() && seen_.back().second.count("X-Trace") > 0;
  }

  std::mutex mutex_;
  std::vector<std::pair<std::string, httplib::Headers>> seen_;
  qorl_testing::HttpServer origin_;
  qorl_testing::HttpServer other_;
  asio::io_context io_;
};

TEST_P(HostileHttpRedirect, CredentialsStayWithTheirOrigin) {
  for (const char* path : {"/away", "/kept"}) {
    for (const char* method : {"GET", "POST"}) {
      SCOPED_TRACE(std::string(method) + " " + path);
      const Response response = run(io_, fetch(with_credentials(origin_.url(path), method)));
      EXPECT_EQ(response.body, "landed");
      EXPECT_EQ(response.effective_url, other_.url("/landing"));
      EXPECT_TRUE(trace_seen());  // other headers still go
      EXPECT_EQ(credentials_seen(), std::vector<std::string>());
    }
  }
  // A redirect within the origin keeps them.
  EXPECT_EQ(run(io_, fetch(with_credentials(origin_.url("/here")))).body, "landed");
  EXPECT_EQ(credentials_seen().size(), GetParam().second.size());
}

INSTANTIATE_TEST_SUITE_P(
    Clients, HostileHttpRedirect,
    ::testing::Values(
        std::pair{"Gemini", Headers{{"x-goog-api-key", "gemini-secret"}}},
        std::pair{"OpenAI", Headers{{"Authorization", "Bearer sk-secret"}}},
        std::pair{"S3", Headers{{"Authorization",
                                 "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20240101/us-east-1/s3/"
                                 "aws4_request, SignedHeaders=host;x-amz-date, Signature=abc"},
                                {"x-amz-date", "20240101T000000Z"},
                                {"x-amz-content-sha256", "UNSIGNED-PAYLOAD"},
                                {"x-amz-security-token", "session-secret"}}},
        std::pair{"GoogleOAuth", Headers{{"Authorization", "Bearer ya29.secret"}}},
        std::pair{"Prosa", Headers{{"x-api-key", "prosa-secret"}}},
        std::pair{"Cookie", Headers{{"Cookie", "SID=secret"}}}),
    [](const auto& info) { return std::string(info.param.first); });

TEST(HostileHttp, ProxiesOfTheEnvironmentAreHonoured) {
  qorl_testing::HttpServer target;
  target.server().Get("/page",
                      [](const auto&, auto& res) { res.set_content("direct", "text/plain"); });
  target.start();
  std::mutex mutex;
  std::vector<std::string> relayed;
  qorl_testing::HttpServer proxy;
  proxy.server().Get(R"(.*)", [&](const httplib::Request& req, auto& res) {
    std::lock_guard lock(mutex);
    relayed.push_back(req.target);  // a proxy is asked for the absolute URI
    res.set_content("via proxy", "text/plain");
  });
  proxy.start();
  qorl_testing::ScopedEnv env;
  for (const char* name :
       {"no_proxy", "NO_PROXY", "all_proxy", "ALL_PROXY", "https_proxy", "HTTPS_PROXY"})
    env.unset(name);
  env.set("http_proxy", proxy.url());
  asio::io_context io;

  EXPECT_EQ(run(io, fetch(get(target.url("/page")))).body, "via proxy");
  env.set("no_proxy", "127.0.0.1");
  EXPECT_EQ(run(io, fetch(get(target.url("/page")))).body, "direct");
  // A proxy the caller names serves every host.
  Request named = get(target.url("/page"));
  named.proxy = proxy.url();
  EXPECT_EQ(run(io, fetch(named)).body, "via proxy");
  std::lock_guard lock(mutex);
  EXPECT_EQ(relayed, std::vector<std::string>(2, target.url("/page")));
}

// Serves `size` bytes without announcing a length, in blocks of 1 MiB; endless without a size.
void serve_unannounced(httplib::Server& server, const std::string& path,
                       std::optional<std::uint64_t> size) {
  server.Get(path, [size](const auto&, auto& res) {
    res.set_chunked_content_provider(
        "application/octet-stream",
        [size, block = std::string(1 << 20, 'e')](size_t offset, httplib::DataSink& sink) {
          if (size && offset >= *size) {
            sink.done();
            return true;
          }
          return sink.write(block.data(), block.size());
        });
  });
}

// Peak memory of downloads near their cap, measured in a child process: the body's size and a
// quarter more at most, plus what the test process already holds. A body cut at the cap counts
// as the cap.
TEST(HostileHttp, DownloadsNearTheCapKeepMemoryNearTheirSize) {
  if (!qorl_testing::kMemoryMeasurable) GTEST_SKIP() << "memory is not measured under sanitizers";
  constexpr std::uint64_t kCap = std::uint64_t{256} << 20;
  constexpr std::uint64_t kReturned = kCap / 4 * 3;
  const std::string bomb = qorl_testing::gzip_of_zeros(2 * kCap);
  qorl_testing::HttpServer server;
  serve_unannounced(server.server(), "/endless", std::nullopt);
  serve_unannounced(server.server(), "/long", kReturned);
  server.server().Get("/bomb.png", [&](const auto&, auto& res) {
    res.set_header("Content-Encoding", "gzip");
    res.set_content(bomb, "image/png");
  });
  server.start();
  for (const auto& [path, size] :
       {std::pair{"/endless", kCap}, std::pair{"/bomb.png", kCap}, std::pair{"/long", kReturned}}) {
    SCOPED_TRACE(path);
    const auto child = qorl_testing::run_in_child([&, path = path, size = size] {
      Request request = get(server.url(path));
      request.identity_encoding = true;
      request.max_body_bytes = kCap;
      asio::io_context io;
      try {
        const Response response = run(io, fetch(request));
        if (response.body.size() == size) return std::string("ok");
        // Served as stored: not decoded, so not larger.
        if (path == std::string("/bomb.png") && response.body == bomb) return std::string("ok");
      } catch (const Error& e) {
        if (e.kind() == Error::Kind::kTooLarge && size == kCap) return std::string("ok");
      }
      return std::string("not the expected outcome");
    });
    ASSERT_EQ(child.result, "ok");
    const std::uint64_t peak = child.peak_growth();
    RecordProperty(std::string("peak_bytes") + path, std::to_string(peak));
    EXPECT_LE(peak, size + size / 4 + (std::uint64_t{100} << 20)) << peak / (1 << 20) << " MiB";
  }
}

}  // namespace
}  // namespace clients::http
