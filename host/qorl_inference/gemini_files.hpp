// The Gemini Files API: resumable uploads of media too large to send inline, waiting until
// the service has processed them, and removing them afterwards.
#pragma once

#include <boost/asio/awaitable.hpp>

#include <chrono>
#include <memory>
#include <string>

#include "clients/http/http.hpp"
#include "qorl_inference/attachment.hpp"
#include "qorl_inference/http_exchange.hpp"

namespace qorl_inference {

struct GeminiFile {
  std::string name;  // "files/abc-123"
  std::string uri;   // what a request refers to the file by
  std::string mime_type;
  std::string state;  // "PROCESSING", "ACTIVE" or "FAILED"
};

struct GeminiFilesSettings {
  std::string base_url;  // without the API version
  std::string api_key;
  ExchangePolicy policy;
  std::chrono::milliseconds poll_interval{2000};
  std::chrono::milliseconds processing_timeout{std::chrono::minutes(10)};
};

class GeminiFiles {
 public:
  GeminiFiles(clients::http::Session* session, GeminiFilesSettings settings);

  // Starts a resumable upload and sends the bytes in one final chunk. The key goes only to the
  // service's own endpoint, never to the upload address it hands back.
  [[nodiscard]] boost::asio::awaitable<GeminiFile> upload(std::shared_ptr<Attachment> attachment);
  // Polls until the file is ACTIVE; BaseInvokerError when it FAILED or takes too long.
  [[nodiscard]] boost::asio::awaitable<GeminiFile> wait_until_active(GeminiFile file);
  // The content of a file the service made (a batch's results), by name ("files/abc-123").
  [[nodiscard]] boost::asio::awaitable<std::string> download(std::string name);
  // Best effort: a failure is logged, not raised (the service expires files by itself).
  boost::asio::awaitable<void> remove(GeminiFile file);

 private:
  clients::http::Request api_request(std::string method, std::string path) const;
  clients::http::Request start_request(const Attachment& attachment) const;

  clients::http::Session* session_;
  GeminiFilesSettings settings_;
};

}  // namespace qorl_inference
