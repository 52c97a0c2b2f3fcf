// Prosa speech-to-text jobs over REST: a job is submitted with the audio inline (base64) or as a
// URI the service fetches, then its record is read until it is complete. A value-type client
// over an abstract connection, whose default implementation calls the service under the common
// call policy, and the readers of the service's answers.
#pragma once

#include <boost/asio/awaitable.hpp>
#include <nlohmann/json_fwd.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clients/common/service_error.hpp"
#include "clients/http/policy.hpp"

namespace clients::prosa {

inline constexpr const char* DEFAULT_STT_URL = "https://api.prosa.ai/v2/speech/stt";

struct SttOptions {
  // Sent as header "x-api-key" on every request.
  std::string api_key;
  // The job endpoint; a job's record is read from it, "/" and the job id.
  std::string url = DEFAULT_STT_URL;
  http::CallPolicy policy = http::default_call_policy();
};

// What to transcribe: set one of `data` (base64 audio) and `uri` (sent with any blank or non-ASCII
// character percent-encoded).
struct SttJobRequest {
  std::string model;
  std::optional<std::string> data;
  std::optional<std::string> uri;
};

// A service answer: its status and its JSON text, whatever the status.
struct SttAnswer {
  long status = 0;
  std::string body;
};

// Where a job stands, by its record's "status": anything but "complete" and "failed" (null
// included) is still pending.
enum class SttJobStatus { kPending, kComplete, kFailed };

// One timed piece of a complete job's transcript; a member that is missing or null reads as the
// default.
struct SttSegment {
  double channel = -1;
  std::string transcript;
  double time_start = 0;
  double time_end = 0;
};

// An answer without the shape the service documents. Service "Prosa".
class SttAnswerError : public ServiceError {
 public:
  explicit SttAnswerError(const std::string& message) : ServiceError(message, {"Prosa"}) {}
};

// The id of the job a submission answer names: a text, or an integer written as one; empty when
// the answer names none (a refused key's answer is {"detail": ...}).
std::string read_job_id(const nlohmann::json& submission);

// The status of a job record; none when the record has no "status" member.
std::optional<SttJobStatus> read_job_status(const nlohmann::json& record);

// The segments of a complete job's record, under "result" and "data"; none when either is
// missing or null. SttAnswerError when a member has another type than documented.
std::vector<SttSegment> read_segments(const nlohmann::json& record);

class SttConnection {
 public:
  virtual ~SttConnection() = default;
  // POST of the job without waiting for it. Repeated only when the service cannot have
  // created the job. Throws http::Error when no answer completes.
  virtual boost::asio::awaitable<SttAnswer> submit_job(SttJobRequest request) = 0;
  // GET of the job's record. Throws http::Error when no answer completes.
  virtual boost::asio::awaitable<SttAnswer> get_job(std::string job_id) = 0;
};

std::shared_ptr<SttConnection> make_stt_connection(SttOptions options);

class SttClient {
 public:
  explicit SttClient(SttOptions options) : connection_(make_stt_connection(std::move(options))) {}
  explicit SttClient(std::shared_ptr<SttConnection> connection)
      : connection_(std::move(connection)) {}

  [[nodiscard]] boost::asio::awaitable<SttAnswer> submit_job(SttJobRequest request) const {
    return connection_->submit_job(std::move(request));
  }
  [[nodiscard]] boost::asio::awaitable<SttAnswer> get_job(std::string job_id) const {
    return connection_->get_job(std::move(job_id));
  }

 private:
  std::shared_ptr<SttConnection> connection_;
};

}  // namespace clients::prosa
