// What fake servers keep of a request, and the replies tests script for them.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

namespace qorl_testing {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string query;  // as received, without '?'
  httplib::Headers headers;
  std::string body;

  // The first header of that name (any case), or empty.
  std::string header(const std::string& name) const;
  static RecordedRequest of(const httplib::Request& request);
};

struct ScriptedReply {
  ScriptedReply(int status = 200, std::string body = "", std::chrono::milliseconds delay = {},
                httplib::Headers headers = {})
      : status(status), body(std::move(body)), delay(delay), headers(std::move(headers)) {}

  int status = 200;
  std::string body;
  std::chrono::milliseconds delay{0};  // before answering
  httplib::Headers headers;

  void send(httplib::Response& response) const;
};

}  // namespace qorl_testing
