// One request/response exchange on a curl easy handle: the option setting and the response
// collection of a transfer of the asynchronous session.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <string_view>

#include "clients/http/http.hpp"

namespace clients::http::detail {

// curl's process-wide initialisation, done once before the first handle is made.
void ensure_curl_initialized();

struct EasyDeleter {
  void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

// A fresh easy handle; throws Error when curl cannot make one.
EasyHandle make_easy();

// Holds the request and everything curl points into while the transfer runs, so it must stay
// at one address (and outlive the transfer) once configure() was called.
class Exchange {
 public:
  explicit Exchange(Request request);
  ~Exchange();
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Sets every option of the transfer on `easy` (which should be fresh or reset).
  void configure(CURL* easy, const SessionOptions& options);

  // The response of a finished transfer; throws Error for a failed one, or rethrows what the
  // body callback threw.
  Response finish(CURL* easy, CURLcode code);

 private:
  static size_t on_header(char* data, size_t size, size_t count, void* self);
  static size_t on_body(char* data, size_t size, size_t count, void* self);
  // Grows the body buffer once for the size the answer announces.
  void reserve_body(std::string_view content_length);

  Request request_;
  std::string url_;
  curl_slist* header_list_ = nullptr;
  Response response_;
  std::uint64_t body_bytes_ = 0;
  std::exception_ptr callback_error_;
  char error_buffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace clients::http::detail
