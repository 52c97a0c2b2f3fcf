#include "clients/http/rate_signals.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/http/policy.hpp"

namespace clients::http {
namespace {

using std::chrono::milliseconds;
using nlohmann::json;

constexpr std::string_view kRetryInfo = "type.googleapis.com/google.rpc.RetryInfo";
constexpr std::string_view kQuotaFailure = "type.googleapis.com/google.rpc.QuotaFailure";

// Google names the quotas that reset at midnight after their period.
bool is_daily_quota(std::string_view quota_id) {
  return quota_id.find("PerDay") != std::string_view::npos;
}

// Google's error details (google.rpc.Status in JSON): the retry delay and a daily quota violated.
void read_google_details(const json& error, RateSignal& signal) {
  const auto details = error.find("details");
  if (details == error.end() || !details->is_array()) return;
  const std::string message = common::field_or<std::string>(error, "message");
  for (const auto& detail : *details) {
    const std::string type = common::field_or<std::string>(detail, "@type");
    if (type == kRetryInfo) {
      if (auto delay = common::optional_field<std::string>(detail, "retryDelay")) {
        if (auto wait = parse_duration(*delay))
          signal.wait = std::max(signal.wait.value_or(*wait), *wait);
      }
    } else if (type == kQuotaFailure) {
      const auto violations = detail.find("violations");
      if (violations == detail.end() || !violations->is_array()) continue;
      for (const auto& violation : *violations) {
        const std::string quota = common::field_or<std::string>(violation, "quotaId");
        if (is_daily_quota(quota) && !signal.exhausted)
          signal.exhausted = QuotaViolation{quota, message};
      }
    }
  }
}

// OpenAI says an account has no credit left with the error code insufficient_quota.
void read_openai_error(const json& error, RateSignal& signal) {
  const std::string code = common::field_or<std::string>(error, "code");
  const std::string type = common::field_or<std::string>(error, "type");
  if (code == "insufficient_quota" || type == "insufficient_quota") {
    signal.exhausted =
        QuotaViolation{"insufficient_quota", common::field_or<std::string>(error, "message")};
  }
}

void read_error_body(const Response& response, RateSignal& signal) {
  if (response.body.empty()) return;
  json body;
  try {
    body = common::parse_json_or_discarded(response.body, "the service");
  } catch (const std::exception&) {
    return;  // nested too deep: no signal in it
  }
  // Some Google front ends wrap the error in a one-element list.
  if (body.is_array() && body.size() == 1) body = body[0];
  if (!body.is_object()) return;
  const auto error = body.find("error");
  if (error == body.end() || !error->is_object()) return;
  read_google_details(*error, signal);
  read_openai_error(*error, signal);
}

std::optional<std::int64_t> parse_count(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<milliseconds> parse_duration(std::string_view text) {
  if (text.empty()) return std::nullopt;
  double total_ms = 0;
  while (!text.empty()) {
    double amount = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), amount);
    if (error != std::errc() || !std::isfinite(amount) || amount < 0) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    const std::size_t unit_length = std::min(text.find_first_of("0123456789."), text.size());
    const std::string_view unit = text.substr(0, unit_length);
    text.remove_prefix(unit_length);
    if (unit == "ms") {
      total_ms += amount;
    } else if (unit == "s") {
      total_ms += amount * 1000;
    } else if (unit == "m") {
      total_ms += amount * 60'000;
    } else if (unit == "h") {
      total_ms += amount * 3'600'000;
    } else {
      return std::nullopt;
    }
  }
  return milliseconds(static_cast<long long>(std::ceil(std::min(total_ms, 1e12))));
}

RateSignal read_rate_signal(const Response& response, std::chrono::system_clock::time_point now) {
  RateSignal signal;
  signal.throttled = response.status == 429;
  if (response.status == 429 || response.status == 503) signal.wait = retry_after(response, now);
  // The request budget of the current window is spent: nothing more until it resets.
  if (parse_count(response.header("x-ratelimit-remaining-requests")) == 0) {
    if (auto reset = response.header("x-ratelimit-reset-requests")) {
      if (auto wait = parse_duration(*reset))
        signal.wait = std::max(signal.wait.value_or(*wait), *wait);
    }
  }
  if (!response.ok()) read_error_body(response, signal);
  return signal;
}

}  // namespace clients::http
