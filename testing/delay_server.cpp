#include "testing/delay_server.hpp"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <thread>
#include <vector>

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
  std::vector<char> discarded = std::vector<char>(64 * 1024);

  asio::awaitable<void> serve(tcp::socket socket) {
    try {
      // Reads of up to 16 KiB, and request bodies (whole images, for model requests) dropped
      // into one buffer shared by every connection: the server stays cheap beside the client it
      // is measuring.
      boost::beast::flat_buffer buffer;
      buffer.reserve(16 * 1024);
      for (;;) {
        http::request_parser<http::buffer_body> parser;
        parser.body_limit(boost::none);
        co_await http::async_read_header(socket, buffer, parser, asio::use_awaitable);
        while (!parser.is_done()) {
          parser.get().body().data = discarded.data();
          parser.get().body().size = discarded.size();
          const auto [error, ignored] = co_await http::async_read(
              socket, buffer, parser, asio::as_tuple(asio::use_awaitable));
          if (error && error != http::error::need_buffer) throw boost::system::system_error(error);
        }
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
