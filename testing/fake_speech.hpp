// Speech-to-Text v1 on loopback: speech:longrunningrecognize checks the request as the service
// does (bearer token from a FakeGoogle, camelCase RecognitionConfig, inline base64 FLAC or a
// gs:// object of a FakeStorage) and starts an operation that operations/{name} reports, done
// after a set number of polls, with results, an error, or never.
#pragma once

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "testing/fake_storage.hpp"
#include "testing/google_fakes.hpp"
#include "testing/http_server.hpp"

namespace qorl_testing {

class FakeSpeech {
 public:
  struct Result {
    // None: a result without alternatives.
    std::optional<std::string> transcript;
    std::string result_end_time;  // as on the wire: "4.700s"
    std::string language_code;    // as the service writes it: "id-id"
  };
  struct Recognition {
    nlohmann::ordered_json body;  // the request as sent, inline content included
    std::string audio;            // the audio the service read, inline or from the object
  };

  FakeSpeech(const FakeGoogle& google, const FakeStorage& storage);

  // For QORL_SPEECH_ENDPOINT: "http://127.0.0.1:<port>".
  std::string endpoint() const { return server_.url(); }

  // How operations started from now on end, after `polls_before_done` polls that find them
  // running: with these results (none at all: a response without results),
  void finish_with(std::vector<Result> results, int polls_before_done = 0);
  // with this google.rpc error,
  void fail_with(int code, const std::string& message, int polls_before_done = 0);
  // or not at all.
  void never_finish();

  std::vector<Recognition> recognitions() const;
  int polls() const;

 private:
  struct Operation {
    nlohmann::json outcome;  // {"response": ...} or {"error": ...}; null: never done
    int polls_left = 0;
  };
  void recognize(const httplib::Request& request, httplib::Response& response);
  void get_operation(const httplib::Request& request, httplib::Response& response);
  bool authorized(const httplib::Request& request, httplib::Response& response) const;
  // The audio the request names, or the error to answer.
  std::optional<std::string> read_audio(const nlohmann::ordered_json& audio,
                                        httplib::Response& response) const;

  const FakeGoogle& google_;
  const FakeStorage& storage_;
  mutable std::mutex mutex_;
  Operation next_;
  std::map<std::string, Operation> operations_;
  std::vector<Recognition> recognitions_;
  int polls_ = 0;
  long serial_ = 4561230000000000000;
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
