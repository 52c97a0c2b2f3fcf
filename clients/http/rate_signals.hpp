// What a service's answer says about its rate limits and quotas, read the same way for every
// service: Retry-After, OpenAI's x-ratelimit-* headers, the google.rpc details of a Google error
// body (RetryInfo, QuotaFailure) and OpenAI's insufficient_quota error.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "clients/http/http.hpp"

namespace clients::http {

// A quota that will not come back soon (a per-day quota, an account out of credit): waiting and
// trying again cannot help.
struct QuotaViolation {
  std::string quota;    // "GenerateRequestsPerDayPerProjectPerModel-FreeTier", "insufficient_quota"
  std::string message;  // the service's own explanation, when it gave one
};

struct RateSignal {
  bool throttled = false;  // 429: the caller goes too fast
  // How long the service asks every caller to wait before the next request: Retry-After, a
  // RetryInfo.retryDelay, or the reset time of an exhausted x-ratelimit-remaining-requests.
  std::optional<std::chrono::milliseconds> wait;
  std::optional<QuotaViolation> exhausted;
};

// The signals of `response`; `now` turns an HTTP-date Retry-After into a wait.
RateSignal read_rate_signal(const Response& response, std::chrono::system_clock::time_point now);

// A protobuf Duration in JSON ("26s", "0.5s") or a Go-style duration as OpenAI's reset headers
// give them ("1s", "6m0s", "20ms", "1h2m3.5s"); none when unreadable.
std::optional<std::chrono::milliseconds> parse_duration(std::string_view text);

}  // namespace clients::http
