// A fake Prosa STT REST service on loopback: job submission (POST /v2/speech/stt) and job
// records (GET /v2/speech/stt/<job_id>), keyed by the "x-api-key" header, in the service's JSON
// shapes. Jobs move through scripted statuses, one per result query; replies can be scripted
// (errors, non-JSON, slow answers).
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "testing/http_server.hpp"
#include "testing/recorded_exchange.hpp"

namespace qorl_testing {

class FakeProsa {
 public:
  static constexpr const char* kApiKey = "fake-prosa-key";

  struct Query {
    RecordedRequest request;
    std::chrono::steady_clock::time_point received;
  };

  FakeProsa();

  // The job endpoint: "http://127.0.0.1:<port>/v2/speech/stt".
  std::string url() const { return server_.url("/v2/speech/stt"); }

  // Statuses that successive result queries of a job report, the last one repeating
  // (default: "complete" at once). A complete job carries its result, a failed one an error.
  void set_statuses(std::vector<std::string> statuses);
  // JSON text of the `data` list of a complete job's result.
  void set_result_data(std::string data_json);
  // The next submissions / result queries get these replies instead of the service's own (a
  // delayed reply does not hold up other exchanges).
  void queue_submission_reply(ScriptedReply reply);
  void queue_query_reply(ScriptedReply reply);

  // Requests that reached the submission route, in order.
  std::vector<RecordedRequest> submissions() const;
  // Result queries, in order, with the time each arrived.
  std::vector<Query> queries() const;

 private:
  struct Job {
    std::string config_json;
    std::string request_json;
    int polls = 0;
  };

  void submit(const httplib::Request& request, httplib::Response& response);
  void query(const httplib::Request& request, httplib::Response& response);
  // Empty when the body is a valid job request, else the validation failure's message.
  static std::string check_submission(const std::string& body);

  mutable std::mutex mutex_;
  std::vector<std::string> statuses_{"complete"};
  std::string result_data_ = "[]";
  std::deque<ScriptedReply> submission_replies_;
  std::deque<ScriptedReply> query_replies_;
  std::vector<RecordedRequest> submissions_;
  std::vector<Query> queries_;
  std::map<std::string, Job> jobs_;
  int next_job_ = 1;
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
