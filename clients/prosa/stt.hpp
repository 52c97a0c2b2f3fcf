// Prosa speech-to-text jobs over REST: a job is submitted with the audio inline (base64) or as a
// URI the service fetches, then its record is read until it is complete. A value-type client
// over an abstract connection, whose default implementation calls the service under the common
// call policy.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <memory>
#include <optional>
#include <string>

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
