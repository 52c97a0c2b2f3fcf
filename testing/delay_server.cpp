#include "testing/delay_server.hpp"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <thread>

namespace qorl_testing {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using asio::ip::tcp;

struct DelayServer::State {
  std::chrono::milliseconds delay;
  std::string body;
  asio::io_context io;
  tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  std::thread thread;

  asio::awaitable<void> serve(tcp::socket socket) {
    try {
      boost::beast::flat_buffer buffer;
      for (;;) {
        // Model requests carry whole images: lift the parser's 1 MB body limit.
        http::request_parser<http::string_body> parser;
        parser.body_limit(256 * 1024 * 1024);
        co_await http::async_read(socket, buffer, parser, asio::use_awaitable);
        const auto& request = parser.get();
        asio::steady_timer timer(socket.get_executor(), delay);
        co_await timer.async_wait(asio::use_awaitable);
        http::response<http::string_body> response(http::status::ok, request.version());
        response.set(http::field::content_type, "application/octet-stream");
        response.set("X-Request-Target", request.target());
        response.keep_alive(request.keep_alive());
        response.body() = body;
        response.prepare_payload();
        co_await http::async_write(socket, response, asio::use_awaitable);
        if (!response.keep_alive()) break;
      }
    } catch (const std::exception&) {
      // The client went away.
    }
  }

  asio::awaitable<void> accept() {
    for (;;) {
      tcp::socket socket = co_await acceptor.async_accept(asio::use_awaitable);
      asio::co_spawn(io, serve(std::move(socket)), asio::detached);
    }
  }
};

DelayServer::DelayServer(std::chrono::milliseconds delay, std::string body)
    : state_(std::make_unique<State>()) {
  state_->delay = delay;
  state_->body = std::move(body);
  asio::co_spawn(state_->io, state_->accept(), asio::detached);
  state_->thread = std::thread([state = state_.get()] { state->io.run(); });
}

DelayServer::~DelayServer() {
  state_->io.stop();
  state_->thread.join();
}

int DelayServer::port() const noexcept { return state_->acceptor.local_endpoint().port(); }

std::string DelayServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port()) + path;
}

}  // namespace qorl_testing
