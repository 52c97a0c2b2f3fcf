#include "clients/openai/rest_stub.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

#include "clients/common/error_answer.hpp"
#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "clients/common/secret_text.hpp"
#include "clients/common/text.hpp"
#include "clients/common/url.hpp"

namespace clients::openai {
namespace {

// The members of the array `key` that are objects, read as T; none when there is no array.
template <typename T>
std::optional<std::vector<T>> object_list(const nlohmann::json& body, std::string_view key) {
  const auto items = common::optional_field<nlohmann::json::array_t>(body, key);
  if (!items) return std::nullopt;
  std::vector<T> out;
  for (const auto& item : *items) {
    if (item.is_object()) out.push_back(item.get<T>());
  }
  return out;
}

// A number, or numeric text as some compatible servers write it ("17.65").
std::optional<double> lenient_number(const nlohmann::json& body, std::string_view key) {
  if (auto number = common::optional_field<double>(body, key)) return number;
  const auto text = common::optional_field<std::string>(body, key);
  double value = 0;
  if (!text || text->empty()) return std::nullopt;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

constexpr const char* kDefaultBaseUrl = "https://api.openai.com/v1";

}  // namespace

std::string resolved_base_url(const ClientOptions& options) {
  return common::resolve_base_url(options.base_url, {"OPENAI_BASE_URL"}, kDefaultBaseUrl);
}

bool refuses_timestamps(const APIStatusError& error) {
  if (error.status_code() != 400) return false;
  const auto body = common::parse_json_or_discarded(error.body(), "OpenAI");
  const std::string param = common::field_or<std::string>(body, {"error", "param"});
  if (param == "response_format" || param.starts_with("timestamp_granularities")) return true;
  const std::string message = common::read_error_answer(body).message.value_or(error.body());
  return message.find("verbose_json") != std::string::npos ||
         message.find("response_format") != std::string::npos ||
         message.find("timestamp_granularities") != std::string::npos;
}

void from_json(const nlohmann::json& value, TranscriptionSegment& segment) {
  segment = {common::field_or<std::string>(value, "text"), common::field_or<double>(value, "start"),
             common::field_or<double>(value, "end")};
}

void from_json(const nlohmann::json& value, TranscriptionWord& word) {
  word = {common::field_or<std::string>(value, "word"), common::field_or<double>(value, "start"),
          common::field_or<double>(value, "end")};
}

void from_json(const nlohmann::json& value, Transcription& transcription) {
  transcription = {common::field_or<std::string>(value, "text"),
                   common::optional_field<std::string>(value, "language"),
                   lenient_number(value, "duration"),
                   object_list<TranscriptionSegment>(value, "segments"),
                   object_list<TranscriptionWord>(value, "words")};
}

}  // namespace clients::openai

namespace clients::openai::internal {

namespace {

// A float as the official Python client writes form values: shortest round trip, with ".0"
// for whole numbers.
std::string float_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, end);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

[[noreturn]] void throw_status_error(const http::Response& response) {
  const long status = response.status;
  std::string message;
  std::string code;
  const auto body = common::parse_json_or_discarded(response.body, "OpenAI");
  if (!body.is_discarded()) {
    common::ErrorAnswer answer = common::read_error_answer(body);
    message =
        "Error code: " + std::to_string(status) + " - " + answer.message.value_or(body.dump());
    code = std::move(answer.code);
  } else {
    const std::string_view text = common::trim_end(response.body);
    message = text.empty() ? "Error code: " + std::to_string(status) : std::string(text);
  }
  switch (status) {
    case 400: throw BadRequestError(message, status, response.body, code);
    case 401: throw AuthenticationError(message, status, response.body, code);
    case 403: throw PermissionDeniedError(message, status, response.body, code);
    case 404: throw NotFoundError(message, status, response.body, code);
    case 409: throw ConflictError(message, status, response.body, code);
    case 422: throw UnprocessableEntityError(message, status, response.body, code);
    case 429: throw RateLimitError(message, status, response.body, code);
    default:
      if (status >= 500) throw InternalServerError(message, status, response.body, code);
      throw APIStatusError(message, status, response.body, code);
  }
}

}  // namespace

std::vector<http::FormPart> transcription_form(const TranscriptionCreateParams& params) {
  std::vector<http::FormPart> parts;
  parts.push_back({"model", params.model, std::nullopt, std::nullopt});
  if (params.language) parts.push_back({"language", *params.language, std::nullopt, std::nullopt});
  if (params.prompt) parts.push_back({"prompt", *params.prompt, std::nullopt, std::nullopt});
  if (params.response_format) {
    parts.push_back({"response_format", *params.response_format, std::nullopt, std::nullopt});
  }
  if (params.temperature) {
    parts.push_back({"temperature", float_text(*params.temperature), std::nullopt, std::nullopt});
  }
  for (const std::string& granularity : params.timestamp_granularities) {
    parts.push_back({"timestamp_granularities[]", granularity, std::nullopt, std::nullopt});
  }
  parts.push_back(
      {"file", std::string(params.file.data), params.file.filename, params.file.content_type});
  return parts;
}

AudioTranscriptionsRestStub::AudioTranscriptionsRestStub(const ClientOptions& options)
    : api_key_(options.api_key),
      url_(resolved_base_url(options) + "/audio/transcriptions"),
      policy_(options.policy) {
  common::check_credential(api_key_, "The OpenAI API key");
}

boost::asio::awaitable<http::Response> AudioTranscriptionsRestStub::send(
    TranscriptionCreateParams params) const {
  http::EncodedForm form = http::encode_multipart(transcription_form(params));
  http::Request request;
  request.method = "POST";
  request.url = url_;
  request.headers = {{"Authorization", "Bearer " + api_key_},
                     {"Accept", "application/json"},
                     {"Content-Type", form.content_type}};
  request.body = std::move(form.body);
  std::string failure;
  bool retryable = false;
  try {
    http::CallOptions options;
    options.kind = http::CallKind::kModel;
    co_return co_await http::call(std::move(request), policy_, options);
  } catch (const http::Error& e) {
    failure = e.what();
    retryable = e.retryable();
  }
  throw APIConnectionError("Connection error: " + failure, retryable);
}

Transcription to_transcription(const http::Response& response,
                               const std::optional<std::string>& response_format) {
  if (!response.ok()) throw_status_error(response);
  const std::string format = response_format.value_or("json");
  Transcription out;
  if (format != "json" && format != "verbose_json") {
    out.text = response.body;
    return out;
  }
  const auto body = common::parse_json_or_discarded(response.body, "OpenAI");
  if (!body.is_object()) {
    throw APIStatusError("Invalid transcription answer: not a JSON object", response.status,
                         response.body);
  }
  return body.get<Transcription>();
}

}  // namespace clients::openai::internal
