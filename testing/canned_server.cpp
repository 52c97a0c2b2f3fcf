#include "testing/canned_server.hpp"

namespace qorl_testing {

CannedServer::CannedServer(ScriptedReply reply) {
  server_.server().Get(
      ".*", [reply = std::move(reply)](const httplib::Request&, httplib::Response& response) {
        reply.send(response);
      });
  server_.start();
}

}  // namespace qorl_testing
