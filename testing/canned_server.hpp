// A server on loopback that answers every GET with one scripted reply: a service that
// misbehaves in one fixed way (an error document, a redirect, a malformed answer).
#pragma once

#include <string>

#include "testing/http_server.hpp"
#include "testing/recorded_exchange.hpp"

namespace qorl_testing {

class CannedServer {
 public:
  explicit CannedServer(ScriptedReply reply);

  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "") const { return server_.url(path); }

 private:
  HttpServer server_;
};

}  // namespace qorl_testing
