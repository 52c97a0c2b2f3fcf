// A fake Gemini API on loopback that checks requests the way the real service does and answers
// in its wire format: generateContent (API version v1beta, key in the x-goog-api-key header,
// parts as text / inlineData / fileData, Gemini schema dialect) and the Files API (resumable
// upload handshake, file status, removal). Replies can be scripted: errors, slow or malformed
// answers.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testing/http_server.hpp"
#include "testing/recorded_exchange.hpp"

namespace qorl_testing {

class FakeGeminiServer {
 public:
  using Recorded = RecordedRequest;
  using Reply = ScriptedReply;

  explicit FakeGeminiServer(std::string api_key = "fake-gemini-key");

  // "http://127.0.0.1:<port>", what GOOGLE_GEMINI_BASE_URL would hold.
  std::string base_url() const { return server_.url(); }
  const std::string& api_key() const noexcept { return api_key_; }

  // The next generateContent calls get these replies, in order; afterwards the canned answer.
  void queue_reply(Reply reply);
  // The text of the canned answer's one candidate.
  void set_answer_text(std::string text);
  // generateContent bodies larger than this are refused, as the real service refuses them.
  void set_request_size_limit(std::size_t bytes);
  // Uploaded files report PROCESSING for this many status reads, then `final_state`.
  void set_processing(int status_reads, std::string final_state = "ACTIVE");

  // At most `requests` generateContent calls in any `window` (a minute by default; a shorter one
  // with the same rate catches bursts); the others get the service's per-minute quota 429,
  // whose RetryInfo asks to wait `retry_delay` ("1s"), or by default until the window has room.
  void set_rate_limit(int requests, std::chrono::milliseconds window = std::chrono::minutes(1),
                      std::string retry_delay = "");
  // After `requests` more answered generateContent calls, every call gets the per-day quota 429
  // until reset_daily_quota().
  void set_daily_quota(int requests);
  void reset_daily_quota();
  // generateContent calls refused by the rate limit so far.
  int throttled() const;

  // Batch mode: a batch starts in the first of `states` and each status read moves it one state
  // along (by default PENDING, RUNNING, SUCCEEDED); a batch that succeeded answers in the reverse
  // order of its requests, each with "Answer to: <its first text>", or an error for a request
  // that contains "fail in batch". A batch sent as a file answers with a responses file.
  void set_batch_states(std::vector<std::string> states);
  // Batch answers carry `text` instead of "Answer to: ...".
  void set_batch_answer_text(std::string text);
  // Submitted batches by name, with the keys of their requests in the order sent.
  std::map<std::string, std::vector<std::string>> batches() const;
  std::vector<std::string> cancelled_batches() const;
  std::vector<std::string> deleted_batches() const;

  // The 429 of a per-minute quota, with its QuotaFailure and RetryInfo details.
  static std::string rate_limited_body(const std::string& retry_delay);
  // The 429 of a per-day quota.
  static std::string daily_quota_body();
  // A generateContent answer whose first candidate says `text`.
  static std::string answer_body(const std::string& text);
  // An error answer in the service's format.
  static std::string error_body(int code, const std::string& message, const std::string& status);

  std::vector<Recorded> requests() const;
  // Requests to generateContent that passed every check, in order.
  std::vector<Recorded> generate_requests() const;
  // Uploaded file contents by file name ("files/1"); removed ones are gone.
  std::map<std::string, std::string> files() const;
  std::vector<std::string> removed_files() const;

 private:
  struct StoredFile {
    std::string display_name;
    std::string mime_type;
    std::string content;
    int processing_reads = 0;
  };
  struct PendingUpload {
    std::string display_name;
    std::string mime_type;
    std::size_t length = 0;
  };

  // Records the request and returns what it recorded, for the handler's own use.
  Recorded record(const httplib::Request& request);
  bool key_ok(const httplib::Request& request, httplib::Response& response) const;
  void generate(const httplib::Request& request, httplib::Response& response);
  void upload(const httplib::Request& request, httplib::Response& response);
  void file_status(const httplib::Request& request, httplib::Response& response);
  void file_remove(const httplib::Request& request, httplib::Response& response);
  std::string file_json(const std::string& name, const StoredFile& file) const;
  void batch_create(const httplib::Request& request, httplib::Response& response);
  void batch_get(const httplib::Request& request, httplib::Response& response);
  void batch_cancel(const httplib::Request& request, httplib::Response& response);
  void batch_delete(const httplib::Request& request, httplib::Response& response);
  void file_download(const httplib::Request& request, httplib::Response& response);
  // The quota 429 this call gets, if any; counts the call against the quotas otherwise.
  std::optional<Reply> quota_refusal();
  // Empty when the body is what the service accepts, else the service's complaint.
  std::string check_generate_body(const std::string& body) const;

  std::string api_key_;
  mutable std::mutex mutex_;
  std::vector<Recorded> requests_;
  std::vector<Recorded> generate_requests_;
  std::deque<Reply> replies_;
  std::string answer_text_ = "Hello from the fake model.";
  std::optional<std::string> batch_answer_text_;
  std::size_t request_size_limit_ = 20 * 1024 * 1024;
  int processing_reads_ = 0;
  int rate_limit_ = 0;  // per window; 0: none
  std::chrono::milliseconds rate_window_{0};
  std::string retry_delay_;
  std::deque<std::chrono::steady_clock::time_point> recent_;
  int throttled_ = 0;
  std::optional<int> daily_left_;
  struct Batch {
    std::string model;
    std::string display_name;
    std::vector<std::pair<std::string, std::string>> requests;  // key, request JSON
    bool from_file = false;
    std::size_t step = 0;
    std::string state;
    std::string responses_file;
  };
  // The batch's Operation, answers included once it succeeded.
  std::string batch_operation(const std::string& name, Batch& batch);
  std::vector<std::string> batch_states_{"BATCH_STATE_PENDING", "BATCH_STATE_RUNNING",
                                         "BATCH_STATE_SUCCEEDED"};
  std::map<std::string, Batch> batches_;
  std::vector<std::string> cancelled_batches_;
  std::vector<std::string> deleted_batches_;
  std::string final_state_ = "ACTIVE";
  int next_id_ = 1;
  std::map<std::string, PendingUpload> pending_;
  std::map<std::string, StoredFile> files_;
  std::vector<std::string> removed_;
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
