// An HTTP proxy on 127.0.0.1 in front of a fake service that fails requests on cue: a scripted
// status (429 with Retry-After, 503, ...), a reset connection, a server that accepts and never
// answers, a body that stalls, a body that never ends. Requests without a fault due are
// forwarded to the fake unchanged, so every client is tested against the real wire format.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qorl_testing {

struct Fault {
  enum class Kind { kStatus, kReset, kHang, kStallBody, kEndlessBody };
  Kind kind = Kind::kStatus;
  int status = 503;
  std::vector<std::pair<std::string, std::string>> headers;

  static Fault answer(int status, std::vector<std::pair<std::string, std::string>> headers = {}) {
    return {Kind::kStatus, status, std::move(headers)};
  }
  static Fault reset() { return {Kind::kReset, 0, {}}; }
  static Fault hang() { return {Kind::kHang, 0, {}}; }
  static Fault stall_body() { return {Kind::kStallBody, 0, {}}; }
  static Fault endless_body() { return {Kind::kEndlessBody, 0, {}}; }
};

class FaultProxy {
 public:
  // `upstream`: "http://127.0.0.1:<port>" of the fake behind it.
  explicit FaultProxy(const std::string& upstream);
  ~FaultProxy();
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  // The next `times` requests whose target contains `path_part` meet `fault`, in the order
  // faults were added.
  void inject(Fault fault, std::string path_part = "", int times = 1);
  // Every forwarded request waits this long first: a slow service that still serves any
  // number of requests at once.
  void delay_answers(std::chrono::milliseconds delay);
  // Requests seen whose target contains `path_part`, faulted or forwarded.
  int requests(const std::string& path_part = "") const;
  // Whether every client connection is closed within `limit`: a client that gave up closes
  // its own.
  bool all_closed_within(std::chrono::milliseconds limit) const;

  int port() const noexcept;
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string url(const std::string& path = "") const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qorl_testing
