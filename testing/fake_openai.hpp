// A fake OpenAI audio transcription service on loopback: parses the multipart upload, checks
// it as the service does, records it, and answers in the service's JSON shapes, or in those of
// a compatible server as its documentation and issue threads show them.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "testing/http_server.hpp"

namespace qorl_testing {

class FakeOpenAI {
 public:
  struct Part {
    std::string name;
    std::string data;
    std::string filename;
    std::string content_type;
  };
  struct Upload {
    std::string authorization;
    std::vector<Part> parts;  // in the order sent
    // The first part of that name, if any.
    const Part* part(const std::string& name) const;
  };
  struct Segment {
    std::string text;
    double start;
    double end;
  };

  // Whose answers it gives, all on POST /v1/audio/transcriptions.
  enum class Flavour {
    kWhisper1,  // OpenAI's whisper-1
    // OpenAI's gpt-4o-transcribe models: json or text only; verbose_json is refused with a 400
    // invalid_request_error (param response_format, code unsupported_value).
    kJsonOnlyModel,
    // speaches: verbose_json with "words": null unless word timings were asked for.
    kSpeaches,
    // vLLM: verbose_json with segments but no word timings, its duration as numeric text and the
    // language as a code.
    kVllm,
    // whisper.cpp's server run with --inference-path /v1/audio/transcriptions: no key checked,
    // word timings inside each segment, none at the top.
    kWhisperCpp,
  };

  static constexpr const char* kApiKey = "sk-test-key";

  explicit FakeOpenAI(Flavour flavour = Flavour::kWhisper1);

  // "http://127.0.0.1:<port>/v1".
  std::string base_url() const;

  // What the transcription answers carry. Segments go out unless only words were asked for;
  // words only when asked for.
  void set_transcript(std::optional<std::string> language, std::vector<Segment> segments,
                      std::vector<Segment> words);
  // The next requests answer these segments, one list each, before the set transcript.
  void queue_segments(std::vector<Segment> segments);
  // Answers each request with one segment from 0 to the duration of the audio it carries.
  void echo_durations() { echo_durations_ = true; }
  // The next `count` requests fail with `status` (and the service's error JSON).
  void fail_next(int status, int count = 1);

  std::vector<Upload> uploads() const;

 private:
  void handle(const httplib::Request& request, httplib::Response& response,
              const httplib::ContentReader& reader);
  // The verbose_json answer, in the shape of the flavour.
  nlohmann::ordered_json verbose_answer(const std::vector<Segment>& segments,
                                        const std::string& text, bool want_words,
                                        bool want_segments) const;

  Flavour flavour_;
  mutable std::mutex mutex_;
  std::vector<Upload> uploads_;
  std::optional<std::string> language_ = "english";
  std::vector<Segment> segments_;
  std::vector<Segment> words_;
  std::deque<std::vector<Segment>> queued_segments_;
  bool echo_durations_ = false;
  int failing_status_ = 0;
  int failing_count_ = 0;
  // Last, so it stops before the state its handlers use is destroyed.
  HttpServer server_;
};

}  // namespace qorl_testing
