#include "testing/fault_proxy.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/connect.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace qorl_testing {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using asio::ip::tcp;

namespace {

constexpr std::uint64_t kBodyLimit = std::uint64_t{1} << 30;

struct Script {
  Fault fault;
  std::string path_part;
  int times;
};

// Waits until the client closes the connection (or the proxy stops).
asio::awaitable<void> until_closed(tcp::socket& socket) {
  char sink[4096];
  for (;;) co_await socket.async_read_some(asio::buffer(sink), asio::use_awaitable);
}

asio::awaitable<void> stream_forever(tcp::socket& socket) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nTransfer-Encoding: "
      "chunked\r\n\r\n";
  co_await asio::async_write(socket, asio::buffer(head), asio::use_awaitable);
  const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
  for (;;) co_await asio::async_write(socket, asio::buffer(chunk), asio::use_awaitable);
}

}  // namespace

struct FaultProxy::State {
  std::string upstream_host;
  std::string upstream_port;
  asio::io_context io;
  tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  std::thread thread;
  mutable std::mutex mutex;
  std::deque<Script> script;
  std::vector<std::string> seen;
  int open = 0;
  std::chrono::milliseconds delay{0};

  std::optional<Fault> take_fault(const std::string& target) {
    std::lock_guard lock(mutex);
    seen.push_back(target);
    for (auto it = script.begin(); it != script.end(); ++it) {
      if (target.find(it->path_part) == std::string::npos) continue;
      Fault fault = it->fault;
      if (--it->times <= 0) script.erase(it);
      return fault;
    }
    return std::nullopt;
  }

  asio::awaitable<void> forward(tcp::socket& client, http::request<http::string_body>& request) {
    http::response<http::string_body> response = co_await exchange_upstream(request);
    response.keep_alive(false);
    co_await http::async_write(client, response, asio::use_awaitable);
  }

  asio::awaitable<http::response<http::string_body>> exchange_upstream(
      http::request<http::string_body>& request) {
    tcp::resolver resolver(io);
    const auto endpoints =
        co_await resolver.async_resolve(upstream_host, upstream_port, asio::use_awaitable);
    tcp::socket upstream(io);
    co_await asio::async_connect(upstream, endpoints, asio::use_awaitable);
    request.keep_alive(false);
    co_await http::async_write(upstream, request, asio::use_awaitable);
    boost::beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(kBodyLimit);
    co_await http::async_read(upstream, buffer, parser, asio::use_awaitable);
    co_return parser.release();
  }

  asio::awaitable<void> serve(tcp::socket socket) {
    {
      std::lock_guard lock(mutex);
      ++open;
    }
    try {
      boost::beast::flat_buffer buffer;
      http::request_parser<http::string_body> parser;
      parser.body_limit(kBodyLimit);
      co_await http::async_read(socket, buffer, parser, asio::use_awaitable);
      http::request<http::string_body> request = parser.release();
      const std::optional<Fault> fault = take_fault(std::string(request.target()));
      if (!fault) {
        const auto wait = [&] {
          std::lock_guard lock(mutex);
          return delay;
        }();
        if (wait.count() > 0) {
          asio::steady_timer timer(io, wait);
          co_await timer.async_wait(asio::use_awaitable);
        }
        co_await forward(socket, request);
      } else if (fault->kind == Fault::Kind::kStatus) {
        http::response<http::string_body> response(static_cast<http::status>(fault->status), 11);
        for (const auto& [name, value] : fault->headers) response.set(name, value);
        response.set(http::field::content_type, "application/json");
        response.body() = R"({"error": {"code": )" + std::to_string(fault->status) +
                          R"(, "message": "injected fault"}})";
        response.keep_alive(false);
        response.prepare_payload();
        co_await http::async_write(socket, response, asio::use_awaitable);
      } else if (fault->kind == Fault::Kind::kReset) {
        socket.set_option(asio::socket_base::linger(true, 0));  // close sends RST
        socket.close();
      } else if (fault->kind == Fault::Kind::kHang) {
        co_await until_closed(socket);
      } else if (fault->kind == Fault::Kind::kStallBody) {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\npartial";
        co_await asio::async_write(socket, asio::buffer(head), asio::use_awaitable);
        co_await until_closed(socket);
      } else {
        co_await stream_forever(socket);
      }
    } catch (const std::exception&) {
      // The client went away.
    }
    std::lock_guard lock(mutex);
    --open;
  }

  asio::awaitable<void> accept() {
    for (;;) {
      tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
      asio::co_spawn(io, serve(std::move(socket)), asio::detached);
    }
  }
};

FaultProxy::FaultProxy(const std::string& upstream) : state_(std::make_unique<State>()) {
  std::string authority = upstream.substr(upstream.find("://") + 3);
  authority = authority.substr(0, authority.find('/'));
  const auto colon = authority.rfind(':');
  state_->upstream_host = authority.substr(0, colon);
  state_->upstream_port = colon == std::string::npos ? "80" : authority.substr(colon + 1);
  asio::co_spawn(state_->io, state_->accept(), asio::detached);
  state_->thread = std::thread([state = state_.get()] { state->io.run(); });
}

FaultProxy::~FaultProxy() {
  state_->io.stop();
  state_->thread.join();
}

void FaultProxy::inject(Fault fault, std::string path_part, int times) {
  std::lock_guard lock(state_->mutex);
  state_->script.push_back({std::move(fault), std::move(path_part), times});
}

void FaultProxy::delay_answers(std::chrono::milliseconds delay) {
  std::lock_guard lock(state_->mutex);
  state_->delay = delay;
}

int FaultProxy::requests(const std::string& path_part) const {
  std::lock_guard lock(state_->mutex);
  int count = 0;
  for (const auto& target : state_->seen) count += target.find(path_part) != std::string::npos;
  return count;
}

bool FaultProxy::all_closed_within(std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    {
      std::lock_guard lock(state_->mutex);
      if (state_->open == 0) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int FaultProxy::port() const noexcept { return state_->acceptor.local_endpoint().port(); }

std::string FaultProxy::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

}  // namespace qorl_testing
