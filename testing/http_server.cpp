#include "testing/http_server.hpp"

#include <sys/socket.h>

#include <chrono>
#include <stdexcept>

namespace qorl_testing {

HttpServer::HttpServer() {
  // Clients that keep connections alive hold a server thread each: give them enough threads,
  // and let idle connections go soon.
  server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
  server_.set_keep_alive_timeout(1);
  server_.set_socket_options([this](socket_t socket) {
    httplib::default_socket_options(socket);
    socket_ = socket;
  });
}

HttpServer::~HttpServer() { stop(); }

void HttpServer::start() {
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
  // httplib 0.11 listens with a backlog of 5: a burst of new connections beyond it would wait a
  // second for the kernel's SYN retry. Listening again only lengthens the queue.
  ::listen(socket_, SOMAXCONN);
  thread_ = std::thread([this] { server_.listen_after_bind(); });
  // httplib 0.11 has no wait_until_ready.
  for (int i = 0; i < 500 && !server_.is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (!server_.is_running()) throw std::runtime_error("test server did not start");
}

void HttpServer::stop() {
  if (!thread_.joinable()) return;
  server_.stop();
  thread_.join();
}

std::string HttpServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace qorl_testing
