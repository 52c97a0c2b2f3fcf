#include "qorl_inference/gemini_files.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <nlohmann/json.hpp>

#include "clients/common/json_fields.hpp"
#include "clients/common/json_parse.hpp"
#include "qorl_inference/exceptions.hpp"
#include "qorl_inference/gemini_media_type.hpp"

namespace qorl_inference {

void from_json(const nlohmann::json& value, GeminiFile& file) {
  using clients::common::field_or;
  file = {field_or<std::string>(value, "name"), field_or<std::string>(value, "uri"),
          field_or<std::string>(value, "mimeType"), field_or<std::string>(value, "state")};
}

namespace {

constexpr const char* kApiVersion = "v1beta";

// The requests of a batch go up as JSON Lines, a type the service takes for that use only.
std::string upload_type(const std::string& mime_type) {
  return mime_type == "application/jsonl" ? mime_type : gemini_media_type(mime_type);
}

nlohmann::json parse_body(const clients::http::Response& response, const ExchangePolicy& policy,
                          const std::string& what) {
  auto json = clients::common::parse_json_or_discarded(response.body, policy.service);
  if (!json.is_object()) {
    throw BaseInvokerError(policy.service + " " + what + " returned an unreadable answer");
  }
  return json;
}

GeminiFile read_file(const nlohmann::json& json, const ExchangePolicy& policy,
                     const std::string& what) {
  const auto file = json.get<GeminiFile>();
  if (file.name.empty() || file.uri.empty()) {
    throw BaseInvokerError(policy.service + " " + what + " returned no file name or URI");
  }
  return file;
}

// The address the service wants the bytes sent to.
std::string upload_address(const clients::http::Response& started, const ExchangePolicy& policy) {
  if (!started.ok()) throw_status_error(started, policy, "file upload");
  const auto address = started.header("X-Goog-Upload-URL");
  if (!address || address->empty()) {
    throw BaseInvokerError(policy.service + " file upload returned no upload address");
  }
  return *address;
}

GeminiFile uploaded_file(const clients::http::Response& finished, const ExchangePolicy& policy) {
  if (!finished.ok()) throw_status_error(finished, policy, "file upload");
  const auto file = clients::common::optional_field<nlohmann::json>(
      parse_body(finished, policy, "file upload"), "file");
  if (!file) throw BaseInvokerError(policy.service + " file upload returned no file");
  return read_file(*file, policy, "file upload");
}

GeminiFile file_status(const clients::http::Response& answer, const ExchangePolicy& policy) {
  if (!answer.ok()) throw_status_error(answer, policy, "file status");
  return read_file(parse_body(answer, policy, "file status"), policy, "file status");
}

// Whether polling may go on; BaseInvokerError when the file failed or the time is up.
void check_processing(const GeminiFile& file, const ExchangePolicy& policy, bool time_left) {
  if (file.state == "FAILED") {
    throw BaseInvokerError(policy.service + " could not process the uploaded file " + file.name);
  }
  if (!time_left) {
    throw BaseInvokerError(policy.service + " did not finish processing the uploaded file " +
                           file.name + " in time");
  }
}

// No key: the upload address is the service's answer, not its known endpoint.
clients::http::Request chunk_request(const Attachment& attachment, std::string address) {
  clients::http::Request chunk;
  chunk.method = "POST";
  chunk.url = std::move(address);
  chunk.headers = {{"X-Goog-Upload-Command", "upload, finalize"},
                   {"X-Goog-Upload-Offset", "0"},
                   {"Content-Type", upload_type(attachment.mime_type)}};
  chunk.body = attachment.data.str();
  return chunk;
}

}  // namespace

GeminiFiles::GeminiFiles(clients::http::Session* session, GeminiFilesSettings settings)
    : session_(session), settings_(std::move(settings)) {}

clients::http::Request GeminiFiles::api_request(std::string method, std::string path) const {
  clients::http::Request request;
  request.method = std::move(method);
  request.url = settings_.base_url + "/" + std::move(path);
  request.headers = {{"x-goog-api-key", settings_.api_key}};
  return request;
}

clients::http::Request GeminiFiles::start_request(const Attachment& attachment) const {
  auto start = api_request("POST", std::string("upload/") + kApiVersion + "/files");
  start.headers.insert(
      start.headers.end(),
      {{"X-Goog-Upload-Protocol", "resumable"},
       {"X-Goog-Upload-Command", "start"},
       {"X-Goog-Upload-Header-Content-Length", std::to_string(attachment.data.size())},
       {"X-Goog-Upload-Header-Content-Type", upload_type(attachment.mime_type)},
       {"Content-Type", "application/json"}});
  nlohmann::json metadata = {{"file", nlohmann::json::object()}};
  if (!attachment.filename.empty()) metadata["file"]["displayName"] = attachment.filename;
  start.body = metadata.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return start;
}

boost::asio::awaitable<GeminiFile> GeminiFiles::upload(std::shared_ptr<Attachment> attachment) {
  const auto& policy = settings_.policy;
  const auto started =
      co_await send_with_retries(session_, start_request(*attachment), policy, "file upload");

  const auto finished = co_await send_with_retries(
      session_, chunk_request(*attachment, upload_address(started, policy)), policy, "file upload");
  co_return uploaded_file(finished, policy);
}

boost::asio::awaitable<GeminiFile> GeminiFiles::wait_until_active(GeminiFile file) {
  const auto& policy = settings_.policy;
  const auto deadline = std::chrono::steady_clock::now() + settings_.processing_timeout;
  while (file.state != "ACTIVE") {
    check_processing(file, policy,
                     std::chrono::steady_clock::now() + settings_.poll_interval <= deadline);
    const auto executor = co_await boost::asio::this_coro::executor;
    boost::asio::steady_timer timer(executor, settings_.poll_interval);
    co_await timer.async_wait(boost::asio::use_awaitable);
    const auto answer = co_await send_with_retries(
        session_, api_request("GET", std::string(kApiVersion) + "/" + file.name), policy,
        "file status");
    file = file_status(answer, policy);
  }
  co_return file;
}

boost::asio::awaitable<std::string> GeminiFiles::download(std::string name) {
  auto request =
      api_request("GET", std::string("download/") + kApiVersion + "/" + name + ":download");
  request.query = {{"alt", "media"}};
  const auto answer =
      co_await send_with_retries(session_, std::move(request), settings_.policy, "file download");
  if (!answer.ok()) throw_status_error(answer, settings_.policy, "file download");
  co_return answer.body;
}

boost::asio::awaitable<void> GeminiFiles::remove(GeminiFile file) {
  const auto& policy = settings_.policy;
  try {
    const auto answer = co_await send_with_retries(
        session_, api_request("DELETE", std::string(kApiVersion) + "/" + file.name), policy,
        "file removal");
    if (!answer.ok()) throw_status_error(answer, policy, "file removal");
  } catch (const BaseInvokerError& error) {
    if (policy.logger) policy.logger->warning(error.what());
  }
}

}  // namespace qorl_inference
