#include "testing/recorded_exchange.hpp"

#include <thread>

namespace qorl_testing {

std::string RecordedRequest::header(const std::string& name) const {
  const auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

RecordedRequest RecordedRequest::of(const httplib::Request& request) {
  std::string query;
  for (const auto& [key, value] : request.params) {
    query += (query.empty() ? "" : "&") + key + "=" + value;
  }
  return {request.method, request.path, query, request.headers, request.body};
}

void ScriptedReply::send(httplib::Response& response) const {
  std::this_thread::sleep_for(delay);
  response.status = status;
  for (const auto& [name, value] : headers) response.set_header(name, value);
  response.set_content(body, "application/json");
}

}  // namespace qorl_testing
