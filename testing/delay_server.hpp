// An HTTP/1.1 server on 127.0.0.1 that answers every request after a fixed delay, on one
// event-loop thread of its own, so it can hold any number of delayed answers at once (unlike a
// thread-per-connection server with a short listen backlog). Each answer carries the request
// target in "X-Request-Target".
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace qorl_testing {

class DelayServer {
 public:
  DelayServer(std::chrono::milliseconds delay, std::string body);
  ~DelayServer();
  DelayServer(const DelayServer&) = delete;
  DelayServer& operator=(const DelayServer&) = delete;

  int port() const noexcept;
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "") const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qorl_testing
