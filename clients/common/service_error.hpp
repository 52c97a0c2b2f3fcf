// The one root of every failure of an outside service or program the clients speak to, so that
// callers, the retry policy and the rate limiter read status and retryability as data.
#pragma once

#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace clients {

// What a failure was, apart from its message.
struct ServiceFailure {
  // The service or program: "HTTP", "Google", "S3", "OpenAI", "YouTube", "yt-dlp", "ffmpeg", ...
  std::string service;
  // The answer's HTTP status; none when no answer came (or the service speaks no HTTP).
  std::optional<long> http_status{};
  // The service's own status or code ("NoSuchKey", "PERMISSION_DENIED", "timeout"); may be empty.
  std::string code{};
  // The same call may succeed when made again (a transient network fault, 429, 503, ...).
  bool retryable = false;
};

class ServiceError : public std::runtime_error {
 public:
  ServiceError(const std::string& message, ServiceFailure failure)
      : std::runtime_error(message), failure_(std::move(failure)) {}

  const ServiceFailure& failure() const noexcept { return failure_; }
  const std::string& service() const noexcept { return failure_.service; }
  std::optional<long> http_status() const noexcept { return failure_.http_status; }
  const std::string& code() const noexcept { return failure_.code; }
  bool retryable() const noexcept { return failure_.retryable; }

 private:
  ServiceFailure failure_;
};

// 408, 429, 500, 502, 503 and 504: statuses after which the same request may succeed.
constexpr bool is_retryable_status(long status) noexcept {
  switch (status) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504: return true;
    default: return false;
  }
}

// The failure of an answer with an error `status`; retryable as the status says.
inline ServiceFailure http_failure(std::string service, long status, std::string code = {}) {
  return {std::move(service), status, std::move(code), is_retryable_status(status)};
}

// The failure of the first ServiceError in `error`'s chain of nested causes
// (std::throw_with_nested), `error` itself included; none when the chain holds none.
std::optional<ServiceFailure> service_failure(const std::exception& error);

}  // namespace clients
