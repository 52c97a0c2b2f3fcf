// A real HTTP server on 127.0.0.1 for tests (cpp-httplib), on a port of its own, running on a
// background thread for the object's lifetime.
#pragma once

#include <httplib.h>

#include <string>
#include <thread>

namespace qorl_testing {

class HttpServer {
 public:
  HttpServer();
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Register handlers before start() (or after; httplib allows both).
  httplib::Server& server() noexcept { return server_; }
  // Starts listening and waits until the server accepts connections.
  void start();
  void stop();

  int port() const noexcept { return port_; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "") const;

 private:
  httplib::Server server_;
  socket_t socket_ = INVALID_SOCKET;  // the listening one
  std::thread thread_;
  int port_ = 0;
};

}  // namespace qorl_testing
