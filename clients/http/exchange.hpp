// One request/response exchange on a curl easy handle: the option setting and the response
// collection of a transfer of the asynchronous session.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "clients/http/body_buffer.hpp"
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

  // The limit of Request::answer_timeout, if any.
  const std::optional<std::chrono::milliseconds>& answer_timeout() const noexcept {
    return request_.answer_timeout;
  }
  // Called once the final answer's headers are in (not those of a redirect being followed).
  void on_answer(std::function<void()> hook) { on_answer_ = std::move(hook); }
  bool answered() const noexcept { return answered_; }
  // The error of an answer that did not come within answer_timeout().
  Error overdue() const;

  // After a finished transfer whose answer is a redirect to follow: sets `easy` up for the
  // next hop and returns true. Throws Error for too many redirects or an unusable Location.
  bool redirect(CURL* easy, CURLcode code);

  // The response of a finished transfer; throws Error for a failed one, or rethrows what the
  // body callback threw.
  Response finish(CURL* easy, CURLcode code);

 private:
  static size_t on_header(char* data, size_t size, size_t count, void* self);
  static size_t on_body(char* data, size_t size, size_t count, void* self);
  // The options that change from one redirect hop to the next: URL, method, body, headers.
  void configure_hop(CURL* easy);
  // The status line and headers are complete.
  void end_of_headers();
  bool is_followed_redirect() const;

  Request request_;
  std::string url_;
  curl_slist* header_list_ = nullptr;
  std::string method_;
  Response response_;
  BodyBuffer body_;
  // Body bytes handed to on_body_chunk or skipped (a redirect's), counted against the cap.
  std::uint64_t streamed_ = 0;
  std::exception_ptr callback_error_;
  std::function<void()> on_answer_;
  bool answered_ = false;
  int redirects_ = 0;
  char error_buffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace clients::http::detail
